#include "net/MainThreadHandOver.h"

namespace cloakline {

struct TMainThreadHandOver::Job {
    enum class State { KQueued, KRunning, KRan, KDropped };

    explicit Job(const std::function<void()>& task) : Task(task) {}
    // A posted task: nobody waits, so the job keeps it.
    explicit Job(std::function<void()>&& task, bool) : Owned(std::move(task)), Task(Owned) {}

    std::function<void()> Owned;
    // The worker waits until the job is finished, so the reference stays valid.
    const std::function<void()>& Task;
    State Now = State::KQueued;
};

TMainThreadHandOver::TMainThreadHandOver() : FMainThread(std::this_thread::get_id()) {}

TMainThreadHandOver::~TMainThreadHandOver() = default;

bool TMainThreadHandOver::RunSync(const std::function<void()>& task) {
    if (IsMainThread()) {
        if (Closed()) {
            return false;
        }
        task();
        return true;
    }
    auto job = std::make_shared<Job>(task);
    std::unique_lock lock(FMutex);
    if (FClosed) {
        return false;
    }
    FQueue.push_back(job);
    if (!WakeMainThread()) {
        // Nobody can have taken it: the lock has been held since the push.
        FQueue.pop_back();
        return false;
    }
    FChanged.wait(lock, [&] { return job->Now == Job::State::KRan || job->Now == Job::State::KDropped; });
    return job->Now == Job::State::KRan;
}

bool TMainThreadHandOver::Post(std::function<void()> task) {
    auto job = std::make_shared<Job>(std::move(task), true);
    const std::lock_guard lock(FMutex);
    if (FClosed) {
        return false;
    }
    FQueue.push_back(std::move(job));
    if (!WakeMainThread()) {
        FQueue.pop_back();
        return false;
    }
    return true;
}

std::size_t TMainThreadHandOver::RunPending() {
    std::size_t ran = 0;
    for (;;) {
        std::shared_ptr<Job> job;
        {
            const std::lock_guard lock(FMutex);
            if (FQueue.empty()) {
                return ran;
            }
            job = std::move(FQueue.front());
            FQueue.pop_front();
            job->Now = Job::State::KRunning;
        }
        // The worker is released however the task ends, an exception included.
        struct Release {
            TMainThreadHandOver& Self;
            Job& Done;
            ~Release() {
                const std::lock_guard lock(Self.FMutex);
                Done.Now = Job::State::KRan;
                Self.FChanged.notify_all();
            }
        } release{*this, *job};
        job->Task();
        ++ran;
    }
}

void TMainThreadHandOver::Close() {
    const std::lock_guard lock(FMutex);
    FClosed = true;
    for (const std::shared_ptr<Job>& job : FQueue) {
        job->Now = Job::State::KDropped;
    }
    FQueue.clear();
    FChanged.notify_all();
}

bool TMainThreadHandOver::Closed() const {
    const std::lock_guard lock(FMutex);
    return FClosed;
}

std::size_t TMainThreadHandOver::PendingCount() const {
    const std::lock_guard lock(FMutex);
    return FQueue.size();
}

}  // namespace cloakline
