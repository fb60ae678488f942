// The keys of the texts the user sees, by what they say. Every text comes
// from the current language file; each comment gives the English text as
// shipped (\n stands for a line break).
#pragma once

namespace ids {
// Switching %s to download mode...
inline constexpr const wchar_t *kSwitchingToDownloadMode = L"IDS_6";
// The repair has finished and the device is restarting. Wait until this window shows the device
// again before you disconnect it; if it is not shown within a minute, disconnect it and connect it
// again.
inline constexpr const wchar_t *kRepairFinished = L"IDS_20";
// The upgrade has finished and the device is restarting. Wait until this window shows the device
// again before you disconnect it; if it is not shown within a minute, disconnect it and connect it
// again.
inline constexpr const wchar_t *kUpgradeFinished = L"IDS_21";
// More than one device connected
inline constexpr const wchar_t *kSeveralDevices = L"IDS_28";
// Disconnect all devices but the one to update.
inline constexpr const wchar_t *kDisconnectOthers = L"IDS_29";
// Connected: %s
inline constexpr const wchar_t *kConnected = L"IDS_30";
// Reading the device's versions...
inline constexpr const wchar_t *kReadingDeviceVersions = L"IDS_31";
// No device connected
inline constexpr const wchar_t *kNoDevice = L"IDS_38";
// About %s...
inline constexpr const wchar_t *kAboutMenuItem = L"IDS_39";
// Checking the firmware image...
inline constexpr const wchar_t *kCheckingFirmware = L"IDS_40";
// Ready. Connect a device.
inline constexpr const wchar_t *kReady = L"IDS_41";
// Upgrading. Do not disconnect the device.
inline constexpr const wchar_t *kUpgrading = L"IDS_44";
// Choose a firmware image first: click the "..." button.
inline constexpr const wchar_t *kChooseFirmwareFirst = L"IDS_47";
// An upgrade or repair is still running. Leaving now can make the device unusable.\n\nExit anyway?
inline constexpr const wchar_t *kExitWhileJobRuns = L"IDS_49";
// Do you want to exit?
inline constexpr const wchar_t *kExitQuestion = L"IDS_50";
// The firmware image named in setting.ini was not found:\n%s\n\nChoose an image with the "..."
// button.
inline constexpr const wchar_t *kConfiguredFirmwareMissing = L"IDS_52";
// Upgrade failed
inline constexpr const wchar_t *kUpgradeFailedCaption = L"IDS_53";
// Repair failed
inline constexpr const wchar_t *kRepairFailedCaption = L"IDS_54";
// Repair the device with the chosen firmware image?\n\nDo not disconnect the device until the
// repair has finished.
inline constexpr const wchar_t *kRepairQuestion = L"IDS_81";
// Repairing. Do not disconnect the device.
inline constexpr const wchar_t *kRepairing = L"IDS_82";
// "About "
inline constexpr const wchar_t *kAboutCaption = L"IDS_83";
// Version
inline constexpr const wchar_t *kAboutVersion = L"IDS_84";
// Upgrade the device with the chosen firmware image?\n\nDo not disconnect the device until the
// upgrade has finished.
inline constexpr const wchar_t *kUpgradeQuestion = L"IDS_88";
// Writing the firmware. This can take several minutes...
inline constexpr const wchar_t *kWritingFirmware = L"IDS_89";
// Restarting the device. Waiting for it to reconnect...
inline constexpr const wchar_t *kRestartingDevice = L"IDS_90";
// Downloading the firmware image to the device...
inline constexpr const wchar_t *kDownloadingImage = L"IDS_91";
// Download complete. Restarting the device...
inline constexpr const wchar_t *kDownloadComplete = L"IDS_92";
// \n\nIf the device was disconnected meanwhile, check the USB cable and connect it again. When
// this window shows the device, start again.
inline constexpr const wchar_t *kFailureSuffix = L"IDS_93";
// The operation failed for an unexpected reason: the device library reported an error it does not
// explain, or the computer ran short of memory. Close other programs and try again.
inline constexpr const wchar_t *kUnexpectedFailure = L"IDS_101";
// This device is in MaskRom mode and cannot be upgraded. Use Repair instead.
inline constexpr const wchar_t *kMaskRomCannotUpgrade = L"IDS_102";
// The firmware image's path contains characters that cannot be passed to the device. Move the
// image to a folder whose name has only English letters and digits, then choose it again.
inline constexpr const wchar_t *kImagePathNotConvertible = L"IDS_103";
// The loader version could not be read from the firmware image. The file may be damaged or may not
// be a firmware image.
inline constexpr const wchar_t *kImageLoaderVersionUnreadable = L"IDS_104";
// The size of the firmware image could not be read. The file may be damaged.
inline constexpr const wchar_t *kImageSizeUnreadable = L"IDS_106";
// The temporary folder's path contains characters that cannot be passed to the device. Set TEMP to
// a folder whose name has only English letters and digits, then restart the program.
inline constexpr const wchar_t *kTempPathNotConvertible = L"IDS_107";
// The loader could not be extracted from the firmware image. The file may be damaged or may not be
// a firmware image.
inline constexpr const wchar_t *kLoaderNotExtracted = L"IDS_108";
// More than one device is connected. Disconnect all but one, then try again.
inline constexpr const wchar_t *kSeveralDevicesRefused = L"IDS_109";
// No device is connected. Connect the device and wait until its name appears.
inline constexpr const wchar_t *kNoDeviceRefused = L"IDS_110";
// The device did not accept the switch to download mode, or it was no longer connected.
inline constexpr const wchar_t *kSwitchFailed = L"IDS_111";
// The device did not come back in download mode: it was not found after the switch, or still not
// after its USB driver was installed. If the driver has just been installed, restart the computer
// before you try again.
inline constexpr const wchar_t *kNoDownloadModeDevice = L"IDS_112";
// The loader was not written, because the question about it was answered No (or could not be
// asked). The device may have been left in download mode. To go on, start the upgrade or repair
// again and answer Yes; otherwise choose another firmware image.
inline constexpr const wchar_t *kLoaderDeclined = L"IDS_113";
// The device was not found in a mode that takes the loader: it was disconnected or restarted, or
// it had not reached download mode.
inline constexpr const wchar_t *kNoLoaderModeDevice = L"IDS_114";
// The loader taken from the firmware image is missing from the temporary folder or damaged. Choose
// the firmware image again with the \"...\" button.
inline constexpr const wchar_t *kLoaderFileBad = L"IDS_115";
// The device library refused the size of the firmware image. Choose the firmware image again with
// the \"...\" button; if it is refused again, the image is damaged.
inline constexpr const wchar_t *kImageSizeRefused = L"IDS_116";
// The loader was written, but the device did not come back in loader mode after its restart. Start
// a repair to write it again.
inline constexpr const wchar_t *kNotBackAfterReset = L"IDS_117";
// The firmware image was not written to the device: the question before the download was answered
// No, or the download failed (the device was disconnected, or the image could not be read). Start
// the upgrade or repair again and answer Yes if you are asked.
inline constexpr const wchar_t *kDownloadFailed = L"IDS_118";
// The device did not complete the operation.
inline constexpr const wchar_t *kNotCompleted = L"IDS_119";
// The USB driver files for this version of Windows are missing from the program's Driver folder.
// Reinstall the program.
inline constexpr const wchar_t *kDriverFilesMissing = L"IDS_121";
// The path of the USB driver files contains characters that this system's code page cannot hold.
// Install the program in a folder whose name has only English letters and digits.
inline constexpr const wchar_t *kDriverPathNotConvertible = L"IDS_122";
// The USB driver installer reported a failure. Run the program as administrator and try again; if
// it fails again, reinstall the program.
inline constexpr const wchar_t *kDriverNotInstalled = L"IDS_123";
// Erasing the device's boot data (IDB) before the repair failed: the device refused it, or the
// loader taken from the firmware image is missing. Choose the firmware image again with the
// \"...\" button if it was moved or changed.
inline constexpr const wchar_t *kEraseIdbFailed = L"IDS_124";
// The driver installer DriverSetup.exe could not be started: it is missing or damaged. Reinstall
// the program.
inline constexpr const wchar_t *kInstallerNotStarted = L"IDS_125";
// The result of the driver installation could not be read, so the driver may not be installed.
// Disconnect the device, connect it again and try again.
inline constexpr const wchar_t *kInstallerResultUnreadable = L"IDS_126";
// The driver installation did not finish in time and was stopped. Restart the computer and try
// again.
inline constexpr const wchar_t *kInstallerTimedOut = L"IDS_127";
// The device has a newer loader than the firmware image.\n\nWrite the older loader anyway?
inline constexpr const wchar_t *kOlderLoaderQuestion = L"IDS_128";
// The device asks to go on with the operation.\n\nContinue?
inline constexpr const wchar_t *kDeviceAsksToContinue = L"IDS_129";
// The device reports that the operation may not complete as expected.\n\nContinue anyway?
inline constexpr const wchar_t *kDeviceWarnsContinue = L"IDS_130";

// Names a screen reader announces for controls whose window text is not their
// name. Firmware file
inline constexpr const wchar_t *kNameFirmwareFile = L"IDS_150";
// Browse for a firmware image
inline constexpr const wchar_t *kNameBrowse = L"IDS_151";
// Job progress
inline constexpr const wchar_t *kNameJobProgress = L"IDS_152";
// Elapsed time
inline constexpr const wchar_t *kNameElapsedTime = L"IDS_153";

// The station program's own lines, and the job record.
// Waiting for a device. Ctrl+C ends the wait.
inline constexpr const wchar_t *kStationWaiting = L"IDS_200";
// Remove the device to go on with the next one. Ctrl+C ends the run.
inline constexpr const wchar_t *kStationRemoveDevice = L"IDS_201";
// Stopping: the running job finishes first.
inline constexpr const wchar_t *kStationFinishing = L"IDS_202";
// Stopped.
inline constexpr const wchar_t *kStationStopped = L"IDS_203";
// No device came within %s seconds.
inline constexpr const wchar_t *kStationNoDeviceInTime = L"IDS_204";
// A question was answered No; %s would have answered Yes.
inline constexpr const wchar_t *kStationDeclined = L"IDS_205";
// Another copy of the program is already running. Close it first.
inline constexpr const wchar_t *kStationAnotherCopy = L"IDS_206";
// The job record could not be written: %s
inline constexpr const wchar_t *kRecordNotWritten = L"IDS_207";
// Job record lines waiting to be written: %s
inline constexpr const wchar_t *kRecordLinesWaiting = L"IDS_230";
// The job record line of job %s waits; it is written as soon as the file can
// be written to.
inline constexpr const wchar_t *kRecordLineWaits = L"IDS_231";
// Rows of the fleet database waiting to be sent: %s
inline constexpr const wchar_t *kDatabaseRowsWaiting = L"IDS_232";
// Waiting up to %s s for the device to come back, to read its versions.
inline constexpr const wchar_t *kStationReturnWait = L"IDS_233";
// Waiting up to %s s for a device. Ctrl+C ends the wait.
inline constexpr const wchar_t *kStationWaitingUpTo = L"IDS_234";
// Waiting up to %s s for the job record to be written.
inline constexpr const wchar_t *kStationDeliveryWait = L"IDS_235";
// The device library has not returned from %s (the call and its time).
inline constexpr const wchar_t *kStepOverdue = L"IDS_236";
// What Ctrl+C does while a library call has not returned.
inline constexpr const wchar_t *kStationStepOverdueStop = L"IDS_237";
// The record's verdict of a run ended while %s had not returned.
inline constexpr const wchar_t *kStepNotReturnedVerdict = L"IDS_238";
// The records' queue as --records lists it: one waiting record, one refused
// (each %s: the record), how many wait, how many were refused, how many
// were sent again.
inline constexpr const wchar_t *kRecordListWaiting = L"IDS_239";
inline constexpr const wchar_t *kRecordListRefused = L"IDS_240";
inline constexpr const wchar_t *kRecordsWaitingCount = L"IDS_241";
inline constexpr const wchar_t *kRecordsRefusedCount = L"IDS_242";
inline constexpr const wchar_t *kRecordsResent = L"IDS_243";
// Written but not verified: the device came back with software %s.
inline constexpr const wchar_t *kStationNotVerified = L"IDS_250";
// Already done: a verified pass of this image (%s: when and where).
inline constexpr const wchar_t *kStationAlreadyDone = L"IDS_251";
// The station at a glance: a verdict line's start (PASS, FAIL %s with the
// result code), the station's own wording of the verdicts whose window
// wording sends the user to the window, and its refusals.
inline constexpr const wchar_t *kStationPass = L"IDS_260";
inline constexpr const wchar_t *kStationFail = L"IDS_261";
inline constexpr const wchar_t *kStationJobDone = L"IDS_262";
inline constexpr const wchar_t *kStationFailureSuffix = L"IDS_263";
inline constexpr const wchar_t *kStationDownloadNotWritten = L"IDS_264";
inline constexpr const wchar_t *kStationLoaderNotWritten = L"IDS_265";
inline constexpr const wchar_t *kStationImagePathNotConvertible = L"IDS_266";
// Image not found: %s (its full path)
inline constexpr const wchar_t *kStationImageNotFound = L"IDS_267";
// More than one device stayed connected for the whole wait of %s s.
inline constexpr const wchar_t *kStationSeveralStayed = L"IDS_268";
// The loader question, answered No without its flag.
inline constexpr const wchar_t *kStationLoaderDeclined = L"IDS_269";
// The figures of a run, each "Label: %s".
inline constexpr const wchar_t *kStationPassed = L"IDS_270";
inline constexpr const wchar_t *kStationFailed = L"IDS_271";
inline constexpr const wchar_t *kStationRefused = L"IDS_272";
inline constexpr const wchar_t *kStationPerHour = L"IDS_273";
inline constexpr const wchar_t *kStationToGo = L"IDS_274";
inline constexpr const wchar_t *kStationFirstPassYield = L"IDS_275";
inline constexpr const wchar_t *kStationMedianCycle = L"IDS_276";
inline constexpr const wchar_t *kStationSlowestCycle = L"IDS_277";
// A record destination that failed its try at the start.
inline constexpr const wchar_t *kStationRecordsQueued = L"IDS_278";
// Summary of the run: %s (the figures)
inline constexpr const wchar_t *kStationSummary = L"IDS_279";
// The summary's passes not verified and devices already done (each %s a count).
inline constexpr const wchar_t *kStationNotVerifiedCount = L"IDS_280";
inline constexpr const wchar_t *kStationAlreadyDoneCount = L"IDS_281";
// Rows written without the columns a table lacks: %s (the destination and
// the columns, with the statement that adds them)
inline constexpr const wchar_t *kRecordWrittenWithout = L"IDS_282";
// --import-records: why a line cannot be read (more fields than the header;
// %s: the column whose field does not read), how many lines were sent, were
// already there, were refused, were not sent (each %s a number), one refused
// line (%s: its number and why), no database named, a file that cannot be
// read (%s: the file and why) or is no record (%s: the file).
inline constexpr const wchar_t *kImportTooManyFields = L"IDS_290";
inline constexpr const wchar_t *kImportFieldUnreadable = L"IDS_299";
inline constexpr const wchar_t *kImportSentCount = L"IDS_291";
inline constexpr const wchar_t *kImportAlreadyThereCount = L"IDS_292";
inline constexpr const wchar_t *kImportRefusedCount = L"IDS_293";
inline constexpr const wchar_t *kImportLineRefused = L"IDS_294";
inline constexpr const wchar_t *kImportNotSentCount = L"IDS_295";
inline constexpr const wchar_t *kImportNoDatabase = L"IDS_296";
inline constexpr const wchar_t *kImportFileUnreadable = L"IDS_297";
inline constexpr const wchar_t *kImportNotARecord = L"IDS_298";
} // namespace ids
