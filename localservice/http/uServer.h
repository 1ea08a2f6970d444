#pragma once
// The HTTP(S) server: worker threads, limits, and dispatch to the test hooks and the API.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "http/uApi.h"
#include "http/uServerOptions.h"
#include "http/uTestHooks.h"
#include "reading/uRecognizer.h"
#include "store/uAccounts.h"
#include "store/uItemQueues.h"
#include "store/uItemStore.h"
#include "store/uServiceStore.h"

namespace httplib {
class Server;
class ContentReader;
} // namespace httplib

class TServer {
public:
    // AStore holds what must survive a restart; it outlives the server.
    TServer(const TServerOptions& AOptions, TServiceStore& AStore);
    ~TServer();

    // Binds, prints the ready line "listening on URL", calls AListening with the port and
    // serves until Stop(). False with a message when the server cannot start.
    bool Run(std::string& AError, const std::function<void(int APort)>& AListening = {});
    // Safe from any thread.
    void Stop();

private:
    // Requests whose body the library does not read (GET and the like).
    void DispatchWithoutBody(const httplib::Request& ARaw, httplib::Response& ARes);
    // Requests that may carry a body: read here, within the size limit, and only once the
    // token is known to be good when the body may be large.
    void DispatchWithBody(const httplib::Request& ARaw, httplib::Response& ARes,
                          const httplib::ContentReader& AReader);
    void Dispatch(const TRequest& ARequest, httplib::Response& ARes);
    // Only the service's own page may use it from a browser: a request that a page of another
    // origin makes is answered 403, and no CORS header ever lets such a page read an answer.
    bool RefuseForeignOrigin(const TRequest& ARequest, httplib::Response& ARes) const;

    TServerOptions FOptions;
    const size_t FMaxBody;
    TAccounts FAccounts;
    TItemQueues FQueues;
    TItemStore FItems;
    TRecognizer FRecognizer;
    std::unique_ptr<TTestHooks> FHooks;
    TApi FApi;
    std::unique_ptr<httplib::Server> FServer;
    std::atomic<bool> FStopRequested = false;
};
