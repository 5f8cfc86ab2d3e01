#include "ui/run_thread.h"

#include <QThread>
#include <future>
#include <system_error>
#include <utility>

namespace cvqrn::ui {

namespace {

int64_t PackStep(int32_t done, int32_t total) {
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(done)) << 32) |
                                static_cast<uint32_t>(total));
}

}  // namespace

RunThread::RunThread(QObject* parent) : QObject(parent) {
    frame_.setInterval(kFrameMs);
    connect(&frame_, &QTimer::timeout, this, &RunThread::DeliverStep);
}

RunThread::~RunThread() {
    if (thread_ == nullptr) return;
    thread_->wait();
    delete thread_;
}

bool RunThread::Start(Work work, Progress progress, Done done) {
    if (Busy()) return false;
    progress_ = std::move(progress);
    done_ = std::move(done);
    fresh_ = false;
    thread_ = QThread::create([this, work = std::move(work)] { work(this); });
    // Emitted on the job's thread, handled on this one.
    connect(thread_, &QThread::finished, this, &RunThread::Finished, Qt::QueuedConnection);
    frame_.start();
    thread_->start();
    return true;
}

void RunThread::feedback(const int32_t& progress, const int32_t& Total) {
    step_.store(PackStep(progress, Total), std::memory_order_relaxed);
    fresh_.store(true, std::memory_order_release);
}

void RunThread::DeliverStep() {
    if (!fresh_.exchange(false, std::memory_order_acquire)) return;
    const auto packed = static_cast<uint64_t>(step_.load(std::memory_order_relaxed));
    if (progress_) {
        progress_(static_cast<int32_t>(static_cast<uint32_t>(packed >> 32)),
                  static_cast<int32_t>(static_cast<uint32_t>(packed)));
    }
}

void RunThread::Finished() {
    frame_.stop();
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    DeliverStep();
    const Done done = std::exchange(done_, nullptr);
    progress_ = nullptr;
    if (done) done();
}

void OnTwoThreads(const std::function<void()>& first, const std::function<void()>& second) {
    std::future<void> beside;
    try {
        beside = std::async(std::launch::async, first);
    } catch (const std::system_error&) {
        first();
        second();
        return;
    }
    try {
        second();
    } catch (...) {
        beside.wait();  // `first` may still use what the caller owns
        throw;
    }
    beside.get();
}

}  // namespace cvqrn::ui
