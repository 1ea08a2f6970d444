#include "platform/uEndRequests.h"

// Windows ends a session with WM_QUERYENDSESSION/WM_ENDSESSION, which Qt turns into a
// quit of the application; there is no signal to watch here.
struct TEndRequests::TImpl {};

TEndRequests::TEndRequests() : FImpl(std::make_unique<TImpl>()) {}

TEndRequests::~TEndRequests() = default;
