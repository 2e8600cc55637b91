#include "screen/ScreenProgrammerThread.h"

namespace {

std::uint64_t Pack(unsigned transmission, ScreenStatus::Phase phase, int value)
{
    return static_cast<std::uint64_t>(transmission) << 32 | static_cast<std::uint64_t>(phase) << 24 |
        (static_cast<std::uint64_t>(value) & 0xFFFFFF);
}

}  // namespace

ScreenProgrammerThread::ScreenProgrammerThread(std::shared_ptr<std::atomic<bool>> inverted)
    : wxThread(wxTHREAD_JOINABLE), panelInverted(std::move(inverted))
{ }

ScreenProgrammerThread::~ScreenProgrammerThread()
{
    delete pending.exchange(nullptr, std::memory_order_acquire);
}

void ScreenProgrammerThread::Start(unsigned transmission, const std::vector<unsigned char>& message,
                                   const PanelTarget& target)
{
    // The job first, then the number: a worker that sees the number finds
    // the job (or has taken it already).
    delete pending.exchange(new Job{transmission, message, target}, std::memory_order_acq_rel);
    wanted.store(transmission, std::memory_order_release);
    signal.Post();
}

void ScreenProgrammerThread::Stop()
{
    wanted.store(0, std::memory_order_release);
    signal.Post();
}

void ScreenProgrammerThread::End()
{
    ending.store(true, std::memory_order_release);
    signal.Post();
}

ScreenStatus ScreenProgrammerThread::Status() const
{
    const std::uint64_t packed = status.load(std::memory_order_acquire);
    ScreenStatus record;
    record.transmission = static_cast<unsigned>(packed >> 32);
    record.phase = static_cast<ScreenStatus::Phase>(packed >> 24 & 0xFF);
    record.value = static_cast<int>(packed & 0xFFFFFF);
    return record;
}

void ScreenProgrammerThread::Publish(ScreenStatus::Phase phase, int value)
{
    status.store(Pack(job->transmission, phase, value), std::memory_order_release);
}

bool ScreenProgrammerThread::Wanted(unsigned transmission) const
{
    return !ending.load(std::memory_order_acquire) && wanted.load(std::memory_order_acquire) == transmission;
}

void ScreenProgrammerThread::TakeUpRequest()
{
    Job* fresh = pending.exchange(nullptr, std::memory_order_acq_rel);
    if (!fresh)
        return;
    job.reset(fresh);
    schedule.Restart();
    if (!painter || !(painter->Target() == job->target)) {
        painter.reset();
        painter = PanelPainter::Open(job->target);
    }
    sending = painter != nullptr;
    if (!sending)
        Publish(ScreenStatus::Phase::Failed, 0);
}

void ScreenProgrammerThread::EndJob()
{
    // Drawn on the connection that drew the swaps, after them: no swap of
    // this transmission can land after it.
    if (painter && panelInverted->load(std::memory_order_relaxed))
        DrawPanel(false);
    job.reset();
    sending = false;
    endSwapped = false;
}

bool ScreenProgrammerThread::DrawPanel(bool inverted)
{
    drawnAt = Clock::now();
    // Before drawing, so that a paint of the panel from now on shows it too.
    panelInverted->store(inverted, std::memory_order_release);
    if (!painter->Draw(inverted))
        return false;
    if (drawHook)
        drawHook(inverted, drawnAt);
    return true;
}

bool ScreenProgrammerThread::Swap()
{
    if (DrawPanel(!panelInverted->load(std::memory_order_relaxed)))
        return true;
    Publish(ScreenStatus::Phase::Failed, schedule.Progress());
    sending = false;
    return false;
}

bool ScreenProgrammerThread::PauseUntil(Clock::time_point deadline)
{
    const unsigned transmission = job->transmission;
    while (signal.WaitUntil(deadline)) {
        if (!Wanted(transmission))
            return false;
    }
    return Wanted(transmission);
}

wxThread::ExitCode ScreenProgrammerThread::Entry()
{
    // The swaps are timed by this thread's waits: it must get a processor
    // as soon as one ends, however busy the machine.
    AskForPromptWakeups();
    while (!ending.load(std::memory_order_acquire)) {
        const unsigned transmission = wanted.load(std::memory_order_acquire);
        if (job && transmission != job->transmission)
            EndJob();  // stopped, or started again
        if (transmission != 0 && !job)
            TakeUpRequest();
        if (!sending) {
            signal.Wait();
            continue;
        }

        // Each pause runs from the moment its step's swap was sent (a step
        // without one, from its start; the lead-in, from the end swap just
        // before it). A late step makes its own pause longer and is not made
        // up for.
        Clock::time_point from = endSwapped ? drawnAt : Clock::now();
        endSwapped = false;
        const dvk::ScreenStep step = schedule.Begin(job->message);
        if (step.kind == dvk::ScreenStep::Kind::Swap) {
            if (!Swap())
                continue;
            from = drawnAt;
        }
        if (step.kind == dvk::ScreenStep::Kind::Countdown)
            Publish(ScreenStatus::Phase::Countdown, step.countdown);
        else
            Publish(ScreenStatus::Phase::Sending, step.progress);
        if (!PauseUntil(from + std::chrono::milliseconds(step.pauseMs)))
            continue;  // stopped, started again or ending
        const dvk::ScreenStepEnd end = schedule.Finish(job->message.size());
        if (end.endSwap) {
            if (!Swap())
                continue;
            endSwapped = true;
        }
        if (end.done) {
            // Done only once every swap has reached the screen.
            const bool shown = painter->Finish();
            Publish(shown ? ScreenStatus::Phase::Done : ScreenStatus::Phase::Failed, schedule.Progress());
            sending = false;
        }
    }
    painter.reset();  // the worker's own connection, closed on the worker
    return 0;
}
