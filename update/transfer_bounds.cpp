#include "transfer_bounds.h"

bool CProgressFloor::Holds(uint64_t received, std::chrono::milliseconds elapsed)
{
    auto at = [this](size_t i) -> Checkpoint& { return m_checkpoints[(m_first + i) % kCheckpoints]; };
    if (m_count == 0 || elapsed - at(m_count - 1).at >= kInterval) {
        if (m_count == kCheckpoints) {
            m_first = (m_first + 1) % kCheckpoints;
            --m_count;
        }
        at(m_count++) = Checkpoint{elapsed, received};
    }
    // The base is the newest checkpoint a window old.
    while (m_count >= 2 && at(1).at <= elapsed - kProgressWindow) {
        m_first = (m_first + 1) % kCheckpoints;
        --m_count;
    }
    const Checkpoint& base = at(0);
    return base.at > elapsed - kProgressWindow || received - base.received >= kMinProgressBytes;
}
