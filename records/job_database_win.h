// The fleet database as a record destination, through Windows' own ODBC API
// (odbc32 and the system's driver manager): any ODBC driver serves, and no
// client library ships with the program.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "records/job_database.h"
#include "records/record_outbox.h"

class DatabaseRecordDestination : public IRecordDestination {
  public:
    // connection: an ODBC connection string ("Driver={...};Server=...;" or
    // "DSN=name"). station: the computer's name, stored with every row.
    DatabaseRecordDestination(std::wstring connection, std::wstring station);
    ~DatabaseRecordDestination() override;
    DatabaseRecordDestination(const DatabaseRecordDestination &) = delete;
    DatabaseRecordDestination &operator=(const DatabaseRecordDestination &) = delete;

    // Connects when not connected (bounded by the login time-out), makes
    // the table (with its indexes) when it is missing and checks its shape
    // once per connection: columns it lacks are added when the role may
    // alter the table, else said once (with the statement that adds them)
    // and left out of the insert; a column of another type keeps the rows
    // waiting. Then inserts the row with bound parameters. A row whose
    // job_id is already there is AlreadyDelivered. A row the server's rules
    // reject (IsRefusedForGood) is Refused, the connection kept. On any
    // other failure the connection is dropped and the next call starts
    // afresh.
    DeliveryOutcome Deliver(const JobRecordFields &fields, std::wstring &error) override;
    // Logs in and checks the table, as the first row would.
    bool Probe(std::wstring &error) override;
    std::wstring Name() const override;

    // Every failure, once per kind (cannot connect, the table's shape, a row
    // refused), with the driver's message and SQLSTATE and no password; the
    // kind may be reported again after a row has been delivered. Called on
    // the delivering thread while the destination is busy: it must not call
    // Deliver.
    std::function<void(const std::wstring &message)> onError;

  private:
    struct Handles;
    DeliveryOutcome Fail(const std::wstring &kind, const std::wstring &message,
                         std::wstring &error);
    DeliveryOutcome Refuse(const std::wstring &kind, const std::wstring &message,
                           std::wstring &error);
    bool Connect(std::wstring &kind, std::wstring &error);
    bool PrepareTable(std::wstring &kind, std::wstring &error);
    void Disconnect();

    const std::wstring m_connection;
    const std::wstring m_station;
    std::mutex m_guard; // one delivery at a time; everything below
    std::unique_ptr<Handles> m_handles;
    FailureOnce m_reported;
    // The columns last said to be missing: said again only when they change.
    std::wstring m_missingReported;
    // Said with the next row written (or the next probe): rows go without
    // the columns the table lacks.
    std::wstring m_notice;
};

// What the window and the station call with the JOB_DATABASE setting (or the
// station's --database): null when the connection string is empty.
std::unique_ptr<DatabaseRecordDestination> MakeDatabaseDestination(const std::wstring &connection,
                                                                   const std::wstring &station);
