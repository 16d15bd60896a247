#pragma once

#include <chrono>

namespace vantrel::stream {

// The process-wide tally of driver work that runs user code or may still
// call it: callback calls in progress (a reader's too, on the reading
// thread) and streams' delivery threads. A program on its way out quiesces
// the driver: from then on no callback is called and no stream starts, and
// the exit waits, for a bounded time, until the tally is zero.
//
// Never destroyed: driver threads may still finish while the process exits.
class Activity {
public:
    // Counts one piece of work while it lives. An empty token (false) means
    // the driver is quiesced: skip the work.
    class Token {
    public:
        Token() = default;
        Token(Token&& other) noexcept : counted_(other.counted_) { other.counted_ = false; }
        Token& operator=(Token&& other) noexcept;
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;
        ~Token() { release(); }
        explicit operator bool() const noexcept { return counted_; }
        void release() noexcept;
        // Hands the count over to whoever releases it later through adopt()
        // (for holders that cannot keep a Token); true when counted.
        bool keep() noexcept {
            const bool counted = counted_;
            counted_ = false;
            return counted;
        }
        static Token adopt() noexcept { return Token(true); }

    private:
        friend class Activity;
        explicit Token(bool counted) : counted_(counted) {}
        bool counted_ = false;
    };

    static Token enter() noexcept;
    static bool quiesced() noexcept;
    // One way: there is no resuming. The calling thread is the quiescing one.
    static void quiesce() noexcept;
    static bool onQuiescingThread() noexcept;
    // True once nothing is counted any more; false when `deadline` came first.
    static bool waitIdle(std::chrono::steady_clock::time_point deadline);
};

}  // namespace vantrel::stream
