#pragma once
// The /_test/ endpoints: scripted responses queued per path, and a record of every request.
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/uCompression.h"
#include "http/uHttp.h"

struct TScript {
    std::string Path;
    int Status = 200;
    THeaderList Headers;
    std::string Body; // before compression
    std::optional<TCompression> Encoding;
    int DelayMs = 0;
    bool Drop = false;
    int TrickleMs = 0; // one body byte every so many milliseconds
};

class TTestHooks {
public:
    static bool IsHookPath(const std::string& APath);

    void Handle(const TRequest& ARequest, httplib::Response& ARes);
    void Record(const TRequest& ARequest);
    // The oldest script queued for that path, removed from the queue.
    std::optional<TScript> TakeScript(const std::string& APath);
    bool HasScript(const std::string& APath);

private:
    void AddScript(const TRequest& ARequest, httplib::Response& ARes);
    void ListRequests(httplib::Response& ARes);
    void Reset(httplib::Response& ARes);

    std::mutex FLock;
    std::map<std::string, std::deque<TScript>> FScripts;
    std::vector<TRequest> FRecord;
};

// Answers with a script: waits, then sends its status, headers and body, or breaks off.
void ApplyScript(const TScript& AScript, httplib::Response& ARes);
