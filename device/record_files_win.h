// The record file and its outbox on the Win32 file API: the CSV appended
// with shared access and read back for its job ids, the queue file flushed
// to the disk, and the reasons a user can act on when a path is refused.
#pragma once

#include <string>

#include "device/csv_record_sink.h"

class RecordFilesWin : public IRecordFile, public IOutboxFile {
  public:
    // IRecordFile
    bool ReadFrom(const std::wstring &path, uint64_t offset, std::string &bytes, uint64_t &size,
                  std::wstring &error) override;
    bool Append(const std::wstring &path, const std::string &header, const std::string &line,
                std::wstring &error) override;
    bool ReplaceStart(const std::wstring &path, const std::string &before, const std::string &after,
                      std::wstring &error) override;
    bool IsFolder(const std::wstring &path) override;

    // IOutboxFile
    bool Read(const std::wstring &path, std::string &bytes, std::wstring &error) override;
    bool Append(const std::wstring &path, const std::string &bytes, bool durable,
                std::wstring &error) override;
    bool Replace(const std::wstring &path, const std::string &bytes, std::wstring &error) override;
    bool Remove(const std::wstring &path) override;
    bool CanHold(const std::wstring &path) override;
};

// Makes every missing folder of a file's path ("Records\2026" of
// "Records\2026\jobs.csv"); false with the reason when one cannot be made.
bool MakeParentFolders(const std::wstring &filePath, std::wstring &error);
