// Connections are served on threads of their own and listed until those end.
#pragma once

#include <list>
#include <memory>
#include <mutex>

namespace probesim {

// Moves the entries whose thread has finished (their `done`, guarded by mu)
// out of the list, so that they are joined outside the lock.
template <class Connection>
std::list<std::unique_ptr<Connection>> take_finished(std::mutex &mu, std::list<std::unique_ptr<Connection>> &list)
{
    std::list<std::unique_ptr<Connection>> finished;
    std::lock_guard<std::mutex> lock(mu);
    for (auto it = list.begin(); it != list.end();) {
        auto next = std::next(it);
        if ((*it)->done)
            finished.splice(finished.end(), list, it);
        it = next;
    }
    return finished;
}

}  // namespace probesim
