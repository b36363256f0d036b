#include "subg/link_loan.h"

#include <atomic>

#include "platform/timing.h"
#include "subg/serial_listener.h"

namespace {

enum LoanState : int { kNoLoan, kAsked, kLent };

constexpr int kPollMicros = 1000;

std::atomic<int> Loan{kNoLoan};

}  // namespace

bool BorrowSerialLink(int waitMicros) {
    int expected = kNoLoan;
    if (!Loan.compare_exchange_strong(expected, kAsked)) return false;
    for (int waited = 0; waited < waitMicros; waited += kPollMicros) {
        if (Loan == kLent) return true;
        MicroSecSleep(kPollMicros);
    }
    // The listener may take the request at this very moment: only a request
    // still unanswered can be withdrawn.
    expected = kAsked;
    return !Loan.compare_exchange_strong(expected, kNoLoan);
}

void ReturnSerialLink() { Loan = kNoLoan; }

// The borrower's exchange is bounded in time by its own retries; the
// listener waits for it rather than touch a port in mid-exchange. The
// borrower gathers in the listener's buffer: bytes the parser has not had
// yet go first (or the port is lent at a later round), and what the
// borrower leaves there is not the parser's.
bool LendSerialLinkIfAsked() {
    if (Loan != kAsked) return false;
    HandOnGatheredBytes();
    int expected = kAsked;
    if (LinkRxBuffer().length > 0 || !Loan.compare_exchange_strong(expected, kLent)) return false;
    while (Loan == kLent) MicroSecSleep(kPollMicros);
    LinkRxBuffer().length = 0;
    return true;
}
