#pragma once
// The service's requests: sign-in, the phone's send, the receiver's long poll and stop,
// recognition, extraction and the extraction items.
#include <optional>
#include <string>

#include "http/uHttp.h"
#include "reading/uRecognizer.h"
#include "store/uAccounts.h"
#include "store/uItemQueues.h"
#include "store/uItemStore.h"
#include "store/uRecentReadings.h"
#include "store/uSignInThrottle.h"

class TApi {
public:
    TApi(TAccounts& AAccounts, TItemQueues& AQueues, TItemStore& AItems, TRecognizer& ARecognizer,
         int AMaxWaitSeconds);

    void Handle(const TRequest& ARequest, httplib::Response& ARes);
    // For a request whose body has not been read yet: answers 401 and returns true when its
    // route needs a bearer token and it carries no valid one, so that nobody without an
    // account can make the service read a large body.
    bool RefuseWithoutToken(const TRequest& ARequest, httplib::Response& ARes);
    // Whether the request's route takes a large body (a picture, a text to extract, an item
    // list); every other request, sign-in included, needs no more than a few KiB.
    bool TakesLargeBody(const TRequest& ARequest) const;

private:
    using THandler = void (TApi::*)(const TRequest&, httplib::Response&, const std::string&);
    struct TRoute {
        const char* Method;
        const char* Path;
        THandler Handler;
        bool LargeBody;
    };
    static const TRoute kRoutes[];

    // The account of the request's bearer token; otherwise answers 401 and returns nothing.
    std::optional<std::string> Authenticate(const TRequest& ARequest, httplib::Response& ARes);

    void Login(const TRequest& ARequest, httplib::Response& ARes);
    void Send(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);
    void Poll(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);
    void Stop(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);
    void GetItems(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);
    void PutItems(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);
    void Extract(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);
    void Upload(const TRequest& ARequest, httplib::Response& ARes, const std::string& AAccount);

    TAccounts& FAccounts;
    TItemQueues& FQueues;
    TItemStore& FItems;
    TRecognizer& FRecognizer;
    TRecentReadings FRecentReadings;
    TSignInThrottle FSignInThrottle;
    const int FMaxWaitSeconds;
};
