// The record keeping of one program, the window's or the station's: the
// record file's sink, the fleet database's queue, and the queues of record
// paths no longer set that still hold records (a `--record` of an earlier
// batch, an edited JOB_RECORD), which go on being delivered where they were
// meant to go. Both programs ask this one place where records wait.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "records/csv_record_sink.h"
#include "records/record_outbox.h"

class RecordKeeping {
  public:
    RecordKeeping(IRecordFile &file, IQueueFiles &queueFiles, IClock &clock,
                  std::wstring programFolder, std::wstring owner);
    ~RecordKeeping();

    // The record file named now; null when the path is empty. The queues of
    // other record paths that hold records are opened beside it.
    CsvRecordSink *OpenFile(const std::wstring &recordPath);
    // The database's queue, with the earlier version's queue file taken in.
    RecordOutbox &OpenDatabase(IRecordDestination &database);

    CsvRecordSink *File() { return m_file.get(); }
    RecordOutbox *Database() { return m_database.get(); }
    // Every queue: the file's, the database's, the earlier paths'.
    std::vector<RecordOutbox *> Outboxes();
    // What waits in every queue of this program.
    size_t Waiting();
    // Delivery threads, and their end at exit (see RecordOutbox::Stop).
    void Start();
    void Stop(uint32_t waitMs, const std::function<bool()> &cancel = nullptr);
    // The refused records of every queue back in line; how many.
    size_t ResendRefused();

    // Set on each queue as it opens.
    std::function<void(RecordOutbox &)> onOpened;

    const std::wstring &Root() const { return m_root; }

  private:
    IRecordFile &m_recordFile;
    IQueueFiles &m_queueFiles;
    IClock &m_clock;
    const std::wstring m_programFolder;
    const std::wstring m_root;
    const std::wstring m_owner;
    std::unique_ptr<CsvRecordSink> m_file;
    std::vector<std::unique_ptr<CsvRecordSink>> m_earlier;
    std::unique_ptr<RecordOutbox> m_database;
};
