#pragma once

class QWidget;
class TApiClient;

// The extraction item manager: shows the account's items and the catalogue, lets the
// user edit them and saves them to the service. AApi is signed in; it is used on this
// thread only, while the window is open.
void ShowItemManager(QWidget* AOwner, TApiClient& AApi);
