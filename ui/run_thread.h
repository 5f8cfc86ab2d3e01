// Long work away from the window's thread: one job at a time on a thread of
// its own, its progress handed back to the window's thread at most once a
// frame, and its end handled there. The window stays responsive (it can be
// dragged and repaints) while the job works.
#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>

#include "heartline/generator.h"

class QThread;

namespace cvqrn::ui {

class RunThread final : public QObject, private ProgressFeedback {
    Q_OBJECT
  public:
    // Runs on the job's thread; reports its steps to the receiver it is given.
    using Work = std::function<void(ProgressFeedback*)>;
    // Runs on this object's thread: the latest step (done, total).
    using Progress = std::function<void(int32_t, int32_t)>;
    // Runs on this object's thread once the work has returned.
    using Done = std::function<void()>;

    // The bar is drawn at most 25 times a second.
    static constexpr int kFrameMs = 40;

    explicit RunThread(QObject* parent);
    // Waits for a job that still works; its `done` is not called.
    ~RunThread() override;

    // Starts `work` on a new thread unless a job is working (then false).
    // While it works, `progress` gets the latest step at most once a frame,
    // and once more, if a step came after that, right before `done`.
    bool Start(Work work, Progress progress, Done done);
    bool Busy() const { return thread_ != nullptr; }

  private:
    // On the job's thread: keeps the latest step for the next frame.
    void feedback(const int32_t& progress, const int32_t& Total) override;
    // On this object's thread: hands a step not yet handed on to `progress_`.
    void DeliverStep();
    void Finished();

    QThread* thread_ = nullptr;
    QTimer frame_;
    Progress progress_;
    Done done_;
    // The latest step as (done << 32) | total, and whether it is new.
    std::atomic<int64_t> step_{0};
    std::atomic<bool> fresh_{false};
};

// Runs `first` on a thread of its own and `second` on this one, and returns
// once both have; one after the other when no thread can be had. An
// exception of either comes out of the call. For the ride profile, whose
// figures are the same either way.
void OnTwoThreads(const std::function<void()>& first, const std::function<void()>& second);

}  // namespace cvqrn::ui
