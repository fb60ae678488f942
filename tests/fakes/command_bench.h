// A main window without a window: the command context over the shared fakes
// (the recording view answers its questions from a script) and a recording
// stand-in for the window's own part.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "commands/command_context.h"
#include "tests/fakes/device_fakes.h"

// The window's part in the commands, recorded.
class FakeCommandHost : public ICommandHost {
  public:
    bool StartJob(JobMode mode) override {
        jobsStarted.push_back(mode);
        return jobStarts;
    }
    bool StartWatcher() override {
        ++watchersStarted;
        return watcherStarts;
    }
    bool InspectImage(const std::wstring &path) override {
        inspected.push_back(path);
        if (onInspect) onInspect();
        return imageUsable;
    }
    std::function<void()> onInspect; // what the inspection finds in the file

    bool jobStarts = true;
    std::vector<int> jobsStarted;
    bool imageUsable = true;
    std::vector<std::wstring> inspected;
    bool watcherStarts = true;
    int watchersStarted = 0;
};

// The context over the fakes, with a device shown, an image chosen and both
// loader versions equal: a click that is confirmed starts a job.
struct CommandBench {
    CommandBench() {
        // A question the test has not scripted is answered No.
        view.messageAnswer = mb::kIdNo;
        texts.open.clear();
        texts.close.clear();
        clock.epochSeconds = 1000000;
        state.g_settings.APPTITLE = L"Title";
        state.g_settings.FIRMWARE = L"C:\\fw\\update.img";
        state.g_findResult = 1;
        state.g_deviceInfo.identity = 7;
        state.g_deviceInfo.deviceType = QV_DEVICE_MSC;
        model.m_deviceLoaderVersion = 0x0102;
        model.m_imageLoaderVersion = 0x0102;
        // The image was inspected as it is on disk.
        files.AddFile(state.g_settings.FIRMWARE, "image");
        model.m_inspectedImage = state.g_settings.FIRMWARE;
        model.m_inspectedStampKnown =
            files.GetFileStamp(state.g_settings.FIRMWARE, model.m_inspectedStamp);
        files.calls.clear();
    }

    ~CommandBench() {
        EXPECT_EQ(view.unexpectedQuestions, 0) << "a question the test did not script";
    }

    // How often the exit procedure released the device library.
    int LibraryReleases() {
        int releases = 0;
        for (const std::string &call : library.Calls())
            releases += call == "DllDeInitialize" ? 1 : 0;
        return releases;
    }

    ProcessState state;
    MainWindowModel model;
    fakes::RecordingView view;
    fakes::FakeTexts texts; // each text is its own key
    FakeClock clock;
    FakeFileSystem files;
    fakes::FakeProfile profile;
    fakes::FakeCodec codec;
    fakes::FakeDeviceLibrary library;
    WorkerGate gate;
    Platform platform{profile, files, codec, clock};
    FakeCommandHost host;
    // Host fields, by the names the tests use.
    bool &jobStarts = host.jobStarts;
    std::vector<int> &jobsStarted = host.jobsStarted;
    bool &imageUsable = host.imageUsable;
    std::vector<std::wstring> &inspected = host.inspected;
    bool &watcherStarts = host.watcherStarts;
    int &watchersStarted = host.watchersStarted;

    CommandContext ctx{
        {state, model, library, view, texts, platform, gate}, host, {}, {}, kWatchIdleWaitMs};
};
