#pragma once
// Items sent from phones, waiting per account until a receiver's long poll takes them.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

struct TTransferItem {
    std::string Filename; // UTF-8; empty when the sender gave none
    std::string ContentType;
    std::string Body;
};

class TItemQueues {
public:
    enum class TPushResult { Queued, TooManyItems, TooManyBytes };
    enum class TTakeResult { Item, Timeout, Busy, ShuttingDown };

    // AMaxBytesPerAccount bounds the bodies an account's queue holds together, so that a
    // phone sending while no receiver polls cannot take all memory.
    TItemQueues(size_t AMaxWaiters, unsigned long long AMaxBytesPerAccount)
        : FMaxWaiters(AMaxWaiters), FMaxBytesPerAccount(AMaxBytesPerAccount) {}

    TPushResult Push(const std::string& AAccount, TTransferItem AItem);
    // Returns an item that a receiver could not take back to the front of the queue. It was
    // queued before, so the limits do not refuse it.
    void PutBack(const std::string& AAccount, TTransferItem AItem);
    // Waits up to AWait for the account's oldest item. Busy when too many polls wait already,
    // so that long polls never take every worker thread of the server. AReceiver names the
    // receiver (its credentials) for Release.
    TTakeResult Take(const std::string& AAccount, const std::string& AReceiver,
                     std::chrono::milliseconds AWait, TTransferItem& AItem);
    // The receiver has stopped: its waiting polls end without an item. A receiver cuts its
    // own poll short when it stops, and a poll whose connection is gone must not take an
    // item it can no longer hand over.
    void Release(const std::string& AAccount, const std::string& AReceiver);
    // Wakes every waiting poll; no poll waits afterwards.
    void Shutdown();

    size_t Pending(const std::string& AAccount) const;
    // Receivers with a poll waiting now.
    size_t ReceiversWaiting() const;
    unsigned long long MaxBytesPerAccount() const { return FMaxBytesPerAccount; }

private:
    struct TQueue {
        std::deque<TTransferItem> Items;
        unsigned long long Bytes = 0; // of the items' bodies
        std::condition_variable Changed;
    };

    static constexpr size_t kMaxItemsPerAccount = 1000;

    const size_t FMaxWaiters;
    const unsigned long long FMaxBytesPerAccount;
    mutable std::mutex FLock;
    std::map<std::string, TQueue> FQueues;
    // Per receiver with a poll waiting: its stops so far, and how many of its polls wait. Kept
    // only while one waits, so that receivers coming and going leave nothing behind.
    struct TReceiver {
        unsigned long long Releases = 0;
        size_t Waiting = 0;
    };
    std::map<std::string, TReceiver> FReceivers;
    size_t FWaiters = 0;
    bool FShutdown = false;
};
