#pragma once

// Which of the main window's commands apply, from what is shown and whether a
// recognition task runs. The one rule for enabling them.
struct TCommandStates {
    bool OcrRegion = false;
    bool OcrFull = false;
    bool Rx = false;
    bool Extract = false;
    bool CopyText = false;
    bool Items = true; // the item manager shares the recognition client: not while it runs
};

inline TCommandStates CommandStates(bool AImageShown, bool ATextShown, bool ABusy) {
    TCommandStates s;
    s.OcrRegion = AImageShown && !ABusy;
    s.OcrFull = AImageShown && !ABusy;
    s.Rx = AImageShown && !ABusy;
    s.Extract = (AImageShown || ATextShown) && !ABusy;
    s.CopyText = ATextShown;
    s.Items = !ABusy;
    return s;
}
