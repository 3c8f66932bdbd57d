#pragma once
// The records the database refused during an import, so that none is lost: each refusal becomes
// one line of rejected.log, and a copy of the refused record is kept until WritePackets writes
// one data packet per source file (that file's fields, only its refused records) into the same
// folder, ready to be fixed and dropped back into download/.
// A refusal is noted while its transaction is open and kept only once that transaction commits
// (Commit): the log line is written then, and the record joins its file's packet. Discard drops
// the refusals of a transaction that was rolled back, so a re-run of the same file does not keep
// them twice. The object owns its copies; the dataset a record came from may be reloaded meanwhile.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/clientdataset/ClientDataSet.h"
#include "dsengine/DSTypes.h"

namespace tarnwick::import {

class TRejectedRecords {
public:
    // `folder` is created when the first refusal is written.
    explicit TRejectedRecords(std::string folder);

    const std::string& Folder() const { return folder_; }
    std::string LogPath() const { return folder_ + "rejected.log"; }

    // Notes that the database refused the current record of `source`, which was loaded from
    // `path`: takes a copy of the record and the reason, pending until Commit or Discard.
    void Add(const TCustomClientDataSet& source, const std::string& path, const std::string& keyText,
             const std::string& message);
    // The transaction of the pending refusals committed: their lines go to rejected.log, their
    // records into their files' packets.
    void Commit();
    // The transaction of the pending refusals was rolled back: they are forgotten and no longer
    // counted.
    void Discard();
    // Writes a packet for every source file with kept refusals not yet written, then forgets them.
    // A packet never replaces an earlier one: a name already taken gets "-2", "-3" ... before
    // its extension, which keeps the table name of the file name intact.
    void WritePackets();

    // A dry run keeps nothing: a committed refusal is only listed, no log line or packet is
    // written and no folder made.
    struct TListedRefusal {
        std::string Path;
        int RecordNumber = 0;
        std::string KeyText;
        std::string Message;
    };
    void SetListOnly(bool listOnly) { listOnly_ = listOnly; }
    bool ListOnly() const { return listOnly_; }
    const std::vector<TListedRefusal>& Listed() const { return listed_; }

    // Refusals since the last ResetCount, pending ones included.
    int Count() const { return count_; }
    // Refusals noted but neither committed nor discarded.
    int PendingCount() const { return static_cast<int>(pendingLines_.size()); }
    void ResetCount() { count_ = 0; }

private:
    using TValue = std::optional<std::string>;  // a field's value form or blob bytes; none: null
    struct TSourceFile {
        std::string Path;
        std::vector<dsengine::DSFLDDesc> Fields;
        std::vector<std::pair<std::uint32_t, std::pair<std::string, std::string>>> Parameters;
        std::vector<std::vector<TValue>> Rows;
        std::size_t Kept = 0;  // the first Kept rows are committed refusals
    };
    struct TPendingLine {
        std::string Path;
        int RecordNumber = 0;
        std::string KeyText;
        std::string Message;
    };

    TSourceFile& FileFor(const TCustomClientDataSet& source, const std::string& path);
    static std::vector<TValue> CopyCurrentRecord(const TCustomClientDataSet& source,
                                                 const std::vector<dsengine::DSFLDDesc>& fields);
    void WriteLogLine(const std::string& path, int recordNumber, const std::string& keyText,
                      const std::string& message);
    std::vector<std::uint8_t> BuildPacket(const TSourceFile& file) const;
    std::string FreePacketPath(const std::string& fileName) const;
    void EnsureFolder() const;

    std::string folder_;
    std::vector<TSourceFile> pending_;
    std::vector<TPendingLine> pendingLines_;
    int count_ = 0;
    bool listOnly_ = false;
    std::vector<TListedRefusal> listed_;
};

}  // namespace tarnwick::import
