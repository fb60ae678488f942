// The job's vocabulary: its modes, its result codes and the device library's
// questions during a job. The job and the driver installation make the
// codes; the verdict table and whoever shows or prints a verdict read them.
#pragma once

#include <cstdint>

// UpgradeThread's argument, QV_Upgrade's mode and WM_UPGRADE_RESULT's wParam.
// Any value but kModeUpgrade counts as repair.
enum JobMode : int32_t {
    kModeUpgrade = 0,
    kModeRepair = 1,
};

// The result code a job posts with WM_UPGRADE_RESULT (lParam).
enum JobResult : int32_t {
    kJobFinished = 0,                    // every step done; the device was told to restart
    kJobSwitchFailed = -1,               // QV_SwitchVeskUsb failed
    kJobNoVeskUsbDevice = -2,            // no VeskUsb-mode device after the switch or driver set-up
    kJobLoaderDeclined = -3,             // QV_Upgrade -4: its question about the loader answered No
    kJobNoLoaderModeDevice = -4,         // QV_Upgrade -1: no device in a mode that takes a loader
    kJobLoaderFileBad = -5,              // QV_Upgrade -2: the extracted loader file missing or bad
    kJobImageSizeRefused = -6,           // QV_Upgrade -3: the library refused the image's size
    kJobUpgradeFailed = -7,              // QV_Upgrade any other failure, or out of memory
    kJobNotBackAfterReset = -8,          // no loader-mode device after the reset
    kJobDownloadFailed = -9,             // QV_DownloadImage failed (or its question answered No)
    kJobNotCompleted = -10,              // reserved: nothing makes it, yet it has a verdict
    kJobDriverFilesMissing = -11,        // no driver information file at its path
    kJobDriverPathNotConvertible = -12,  // driver information path has no ANSI form
    kJobDriverNotInstalled = -13,        // the installer or QVInstallDriver reported failure
    kJobEraseIdbFailed = -14,            // QV_EraseIDB failed (repair only)
    kJobInstallerNotStarted = -15,       // the installer program could not be started
    kJobInstallerResultUnreadable = -16, // reading the installer's exit code failed
    kJobInstallerTimedOut = -17,         // the installer did not finish in time and was ended

    // Not posted by the job itself: the commands report a job thread that
    // could not be started with it. It has no verdict of its own and reads
    // as an unexpected failure.
    kJobThreadNotStarted = -100,
    // Never posted; recorded only. The program was closed while the job ran
    // (the device may be left half-written): verdict key kClosedDuringJobKey.
    kJobClosedDuringJob = -101,
    // Never posted; recorded only. The station's checks refused the device
    // before any job: the verdict key is the refusal's text key.
    kJobRefusedByChecks = -102,
    // Never posted; recorded only. --skip-done: the device already has a
    // verified pass of the same image, and nothing was done to it: verdict
    // key kAlreadyDoneKey.
    kJobAlreadyDone = -103,
    // Never posted; recorded only. The run was ended while a library call
    // of the job had not returned (the device may be half-written): verdict
    // key kStepNotReturnedKey.
    kJobStepNotReturned = -104,
    // Never posted: a step found the gate closed by the exit procedure, and
    // the job ends without touching the window, the values or the library.
    kJobStoppedAtExit = INT32_MIN,
};

// The record's verdict key for kJobClosedDuringJob.
inline constexpr const wchar_t *kClosedDuringJobKey = L"CLOSED_DURING_JOB";
// The record's verdict key for kJobAlreadyDone.
inline constexpr const wchar_t *kAlreadyDoneKey = L"ALREADY_DONE";
// The record's verdict key for kJobStepNotReturned.
inline constexpr const wchar_t *kStepNotReturnedKey = L"STEP_NOT_RETURNED";

// The failures with a verdict of their own run from -1 down to this one.
inline constexpr JobResult kJobLastFailure = kJobInstallerTimedOut;

// The questions the device library asks during a job (WM_DEVICE_PROMPT's
// wParam).
enum DevicePromptKind : uint32_t {
    kPromptOlderLoader = 0,    // write an older loader over the device's newer one?
    kPromptContinue = 1,       // the device asks to go on
    kPromptMayNotComplete = 2, // the device warns that the operation may not complete
};
