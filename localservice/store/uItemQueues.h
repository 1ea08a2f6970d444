#pragma once
// Items sent from phones, waiting per account until a receiver's long poll takes them. Their
// bodies wait in the store; the queues keep the order and wake the waiting polls.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "store/uServiceStore.h"

// An item as it arrives; its body is the caller's, read while it is stored.
struct TTransferItem {
    std::string Filename; // UTF-8; empty when the sender gave none
    std::string ContentType;
    std::string_view Body;
};

class TItemQueues {
public:
    enum class TPushResult { Queued, TooManyItems, TooManyBytes, NotStored };
    enum class TTakeResult { Item, Timeout, Busy, ShuttingDown };

    // AMaxBytesPerAccount bounds the bodies an account's queue holds together, so that a
    // phone sending while no receiver polls cannot fill the disk.
    TItemQueues(TServiceStore& AStore, size_t AMaxWaiters, unsigned long long AMaxBytesPerAccount)
        : FStore(AStore), FMaxWaiters(AMaxWaiters), FMaxBytesPerAccount(AMaxBytesPerAccount) {}

    // Queues the items the store kept from before, oldest first.
    bool Load();

    // Queued only once the store holds the item durably.
    TPushResult Push(const std::string& AAccount, const TTransferItem& AItem);
    // Waits up to AWait for the account's oldest item. Busy when too many polls wait already,
    // so that long polls never take every worker thread of the server. AReceiver names the
    // receiver (its credentials) for Release. The item stays in the store until Delivered.
    TTakeResult Take(const std::string& AAccount, const std::string& AReceiver,
                     std::chrono::milliseconds AWait, TStoredItem& AItem);
    std::optional<std::string> Body(const TStoredItem& AItem);
    // The receiver has the item whole: it leaves the store.
    void Delivered(const TStoredItem& AItem);
    // Returns an item that a receiver could not take back to the front of its queue. It was
    // queued before, so the limits do not refuse it.
    void PutBack(const TStoredItem& AItem);
    // An item whose body could not be read goes to the back of its queue, so that it holds up
    // none of the items after it; it stays in the store.
    void PutLast(const TStoredItem& AItem);
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
        std::deque<TStoredItem> Items;
        // Of the queued items and of those being stored now, so that parallel sends cannot
        // pass the limits together.
        size_t Count = 0;
        unsigned long long Bytes = 0;
        std::condition_variable Changed;
    };

    static constexpr size_t kMaxItemsPerAccount = 1000;

    TServiceStore& FStore;
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
