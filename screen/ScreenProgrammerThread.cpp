#include "ScreenProgrammerThread.h"

#include "ScreenProgrammerDialog.h"

ScreenProgrammerThread::ScreenProgrammerThread(ScreenProgrammerDialog* owner)
    : wxThread(wxTHREAD_JOINABLE), dialog(owner)
{
}

void ScreenProgrammerThread::Start(unsigned transmission, const std::vector<unsigned char>& newMessage)
{
    std::lock_guard<std::mutex> lock(requestMutex);
    requested = transmission;
    requestedMessage = newMessage;
    running.store(true, std::memory_order_release);
}

void ScreenProgrammerThread::Stop()
{
    running.store(false, std::memory_order_release);
}

void ScreenProgrammerThread::TakeUpRequest()
{
    std::lock_guard<std::mutex> lock(requestMutex);
    if (requested == active)
        return;
    active = requested;
    message = requestedMessage;
    schedule.Restart();
}

bool ScreenProgrammerThread::StillRequested()
{
    std::lock_guard<std::mutex> lock(requestMutex);
    return requested == active && running.load(std::memory_order_acquire);
}

bool ScreenProgrammerThread::EndIfStillRequested()
{
    // Under the lock, so that a Start made meanwhile is not cancelled.
    std::lock_guard<std::mutex> lock(requestMutex);
    if (requested != active)
        return false;
    running.store(false, std::memory_order_release);
    return true;
}

void ScreenProgrammerThread::Post(ScreenUpdate::Kind kind, int value, bool firstByte)
{
    ScreenUpdate update;
    update.kind = kind;
    update.transmission = active;
    update.value = value;
    update.firstByte = firstByte;
    dialog->QueueUpdate(update);
}

wxThread::ExitCode ScreenProgrammerThread::Entry()
{
    for (;;) {
        if (!running.load(std::memory_order_acquire)) {
            if (TestDestroy())
                return 0;
            Sleep(dvk::kIdlePollMs);
            continue;
        }
        if (TestDestroy())
            return 0;

        TakeUpRequest();
        const dvk::ScreenStep step = schedule.Begin(message);
        switch (step.kind) {
        case dvk::ScreenStep::Kind::Countdown:
            Post(ScreenUpdate::Kind::Countdown, step.countdown);
            break;
        case dvk::ScreenStep::Kind::LeadIn:
            Post(ScreenUpdate::Kind::LeadIn, step.progress, step.firstByte);
            break;
        case dvk::ScreenStep::Kind::Swap:
            Post(ScreenUpdate::Kind::Swap, step.progress);
            break;
        }
        Sleep(step.pauseMs);

        // Stopped during the pause (perhaps started again): the rest of
        // this step belongs to a transmission that is over.
        if (!StillRequested())
            continue;
        const dvk::ScreenStepEnd end = schedule.Finish(message.size());
        if (end.endSwap)
            Post(ScreenUpdate::Kind::EndSwap);
        if (end.done && EndIfStillRequested())
            Post(ScreenUpdate::Kind::Done);
    }
}
