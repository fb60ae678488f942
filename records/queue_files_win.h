// The record queue's files on the Win32 file API: each record written and
// flushed under a temporary name and renamed into place in one step, the
// program's owner mark held open, deleted by the system when the process
// ends however it ends.
#pragma once

#include <string>

#include "records/record_outbox.h"

class QueueFilesWin : public IQueueFiles {
  public:
    bool List(const std::wstring &folder, std::vector<std::wstring> &names,
              std::wstring &error) override;
    bool Read(const std::wstring &path, std::string &bytes, std::wstring &error) override;
    bool Create(const std::wstring &path, const std::string &bytes, std::wstring &error) override;
    bool Rename(const std::wstring &from, const std::wstring &to, std::wstring &error) override;
    bool Remove(const std::wstring &path, std::wstring &error) override;
    bool MakeFolder(const std::wstring &folder, std::wstring &error) override;
    bool HoldMark(const std::wstring &path, std::wstring &error) override;
    bool MarkHeld(const std::wstring &path) override;
};

// A token for this program among those that share a queue: its process id
// and a random part, so that a reused process id is another owner.
std::wstring NewQueueOwner();
