#include "records/record_keeping.h"

#include "records/job_database.h"

RecordKeeping::RecordKeeping(IRecordFile &file, IQueueFiles &queueFiles, IClock &clock,
                             std::wstring programFolder, std::wstring owner)
    : m_recordFile(file), m_queueFiles(queueFiles), m_clock(clock),
      m_programFolder(std::move(programFolder)), m_root(RecordQueueRoot(m_programFolder)),
      m_owner(owner.empty() ? L"local" : std::move(owner)) {}

RecordKeeping::~RecordKeeping() {
    // The sinks' outboxes end their threads; the database's destination,
    // owned by the caller, outlives this.
    m_database.reset();
}

CsvRecordSink *RecordKeeping::OpenFile(const std::wstring &recordPath) {
    if (!recordPath.empty()) {
        m_file = MakeCsvRecordSink(m_recordFile, m_queueFiles, m_clock, recordPath, m_programFolder,
                                   m_owner);
        if (onOpened) onOpened(m_file->Outbox());
    }
    for (const std::wstring &path : QueuedRecordPaths(m_queueFiles, m_root, recordPath)) {
        m_earlier.push_back(
            MakeCsvRecordSink(m_recordFile, m_queueFiles, m_clock, path, m_programFolder, m_owner));
        if (onOpened) onOpened(m_earlier.back()->Outbox());
    }
    return m_file.get();
}

RecordOutbox &RecordKeeping::OpenDatabase(IRecordDestination &database) {
    m_database = std::make_unique<RecordOutbox>(m_queueFiles, m_root, kDatabaseDestinationName,
                                                m_owner, database, m_clock);
    std::wstring folder = m_programFolder;
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    m_database->AdoptQueue(folder + kDatabaseOutboxFile);
    if (onOpened) onOpened(*m_database);
    return *m_database;
}

std::vector<RecordOutbox *> RecordKeeping::Outboxes() {
    std::vector<RecordOutbox *> all;
    if (m_file) all.push_back(&m_file->Outbox());
    if (m_database) all.push_back(m_database.get());
    for (const auto &earlier : m_earlier)
        all.push_back(&earlier->Outbox());
    return all;
}

size_t RecordKeeping::Waiting() {
    size_t waiting = 0;
    for (RecordOutbox *outbox : Outboxes())
        waiting += outbox->Waiting();
    return waiting;
}

void RecordKeeping::Start() {
    for (RecordOutbox *outbox : Outboxes())
        outbox->Start();
}

void RecordKeeping::Stop(uint32_t waitMs, const std::function<bool()> &cancel) {
    for (RecordOutbox *outbox : Outboxes())
        outbox->Stop(waitMs, cancel);
}

size_t RecordKeeping::ResendRefused() {
    size_t moved = 0;
    for (RecordOutbox *outbox : Outboxes())
        moved += outbox->ResendRefused();
    return moved;
}
