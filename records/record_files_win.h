// The record file on the Win32 file API: the CSV appended with shared
// access and read back for its job ids, and the reasons a user can act on
// when a path is refused.
#pragma once

#include <string>

#include "records/csv_record_sink.h"

class RecordFilesWin : public IRecordFile {
  public:
    bool ReadFrom(const std::wstring &path, uint64_t offset, uint64_t limit, std::string &bytes,
                  uint64_t &size, std::wstring &error) override;
    bool Append(const std::wstring &path, const std::string &header, const std::string &line,
                std::wstring &error) override;
    bool ReplaceStart(const std::wstring &path, const std::string &before, const std::string &after,
                      std::wstring &error) override;
    bool IsFolder(const std::wstring &path) override;
    bool MakeFolderOf(const std::wstring &path, std::wstring &error) override;
};

// Makes every missing folder of a file's path ("Records\2026" of
// "Records\2026\jobs.csv"); false with the reason when one cannot be made.
bool MakeParentFolders(const std::wstring &filePath, std::wstring &error);

// Writes every byte to an open file handle, in as many writes as it takes.
bool WriteAllBytes(void *file, const std::string &bytes);

// The reason a user can act on for a system error code about a path.
std::wstring FileErrorReason(unsigned long error, const std::wstring &path);
