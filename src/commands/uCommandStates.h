#pragma once

// Which of the main window's commands apply, from what is shown, whether a recognition
// task runs and whether receiving is on. The one rule for enabling them.
struct TCommandStates {
    bool Connect = true;
    bool Stop = false;
    bool AccountEditable = true; // server URL, e-mail and password: fixed while receiving
    bool OcrRegion = false;
    bool OcrFull = false;
    bool Rx = false;
    bool Extract = false;
    bool CopyText = false;
    bool Items = true; // the item manager shares the recognition client: not while it runs
};

inline TCommandStates CommandStates(bool AImageShown, bool ATextShown, bool ABusy,
                                    bool AReceiving) {
    TCommandStates s;
    s.Connect = !AReceiving;
    s.Stop = AReceiving;
    s.AccountEditable = !AReceiving;
    s.OcrRegion = AImageShown && !ABusy;
    s.OcrFull = AImageShown && !ABusy;
    s.Rx = AImageShown && !ABusy;
    s.Extract = (AImageShown || ATextShown) && !ABusy;
    s.CopyText = ATextShown;
    s.Items = !ABusy;
    return s;
}
