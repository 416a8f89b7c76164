// Using more than one core without changing what a single pass would do:
// the same report for the same input, and the same bytes in the same order.
#include "function.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

unsigned thread_count(std::size_t work) {
    unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 4u));
    return static_cast<unsigned>(std::min<std::size_t>(cores, std::max<std::size_t>(work, 1)));
}

// Runs `work` on the calling thread and on up to threads - 1 others. Work is
// handed out piece by piece, so any number of threads finishes it: when no
// other thread can be started, the calling thread does it all.
template <class Work>
void run_threads(unsigned threads, Work work) {
    std::vector<std::thread> helpers;
    try {
        while (helpers.size() + 1 < threads) helpers.emplace_back(work);
    } catch (const std::system_error&) {
    }
    work();
    for (std::thread& helper : helpers) helper.join();
}

// The threads of for_each_model that are reading a model now.
std::atomic<unsigned> modelReaders{0};

}  // namespace

unsigned spare_threads() {
    return std::max(1u, thread_count(SIZE_MAX) / std::max(1u, modelReaders.load()));
}

void run_pieces(unsigned threads, std::size_t pieces, const std::function<void(std::size_t)>& work) {
    std::atomic<std::size_t> next{0};
    run_threads(static_cast<unsigned>(std::min<std::size_t>(threads, pieces)), [&] {
        for (std::size_t k; (k = next++) < pieces;) work(k);
    });
}

void for_each_model(void (*read)(RsdData& rsd)) {
    const std::size_t models = malrsd.size();
    std::vector<std::exception_ptr> failures(models);
    std::atomic<std::size_t> next{0};
    // Models after one that failed need not be read: their reports would
    // never be shown.
    std::atomic<std::size_t> firstFailed{models};
    run_threads(thread_count(models), [&] {
        for (std::size_t i; (i = next++) < models && i < firstFailed;) {
            ++modelReaders;
            try {
                read(malrsd[i]);
                --modelReaders;
            } catch (...) {
                --modelReaders;
                failures[i] = std::current_exception();
                std::size_t seen = firstFailed;
                while (i < seen && !firstFailed.compare_exchange_weak(seen, i)) {
                }
            }
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
}

void write_in_order(OutFile& out, std::size_t pieces, std::size_t maxBytes,
                    const std::function<char*(std::size_t piece, char* text)>& format) {
    std::mutex lock;
    std::condition_variable turnChanged;
    std::size_t turn = 0;  // the piece to be written next
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    run_threads(thread_count(pieces), [&] {
        try {
            std::unique_ptr<char[]> text;
            for (std::size_t k; (k = next++) < pieces;) {
                if (!text) text = std::make_unique_for_overwrite<char[]>(maxBytes);
                char* end = format(k, text.get());
                std::unique_lock<std::mutex> guard(lock);
                turnChanged.wait(guard, [&] { return turn == k || failure; });
                if (failure) return;
                guard.unlock();
                out.put(std::string_view(text.get(), static_cast<std::size_t>(end - text.get())));
                guard.lock();
                turn = k + 1;
                turnChanged.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> guard(lock);
            if (!failure) failure = std::current_exception();
            turnChanged.notify_all();
        }
    });
    if (failure) std::rethrow_exception(failure);
}
