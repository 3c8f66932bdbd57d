#include "import/RejectedRecords.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "data/clientdataset/DataErrors.h"
#include "dsengine/DSIntf.h"
#include "import/WorkList.h"
#include "platform/LocalTime.h"

namespace tarnwick::import {

namespace {

using namespace tarnwick::dsengine;

[[noreturn]] void RaiseCannotCreate(const std::string& path);

// A log line is one line: the database's message may span several; any other control
// character is written as an escape.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\t') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return PrintableName(text);
}

// The folder and its files hold customers' data: only the store's own user may read them.
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

void WriteAll(int fd, const std::string& path, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            RaiseCannotCreate(path);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void CheckWriter(IDSWriter& writer, DBResult status) {
    if (status == DBERR_NONE) return;
    std::string text;
    writer.GetErrorString(status, text);
    throw EDBClient(text, static_cast<int>(status));
}

[[noreturn]] void RaiseCannotCreate(const std::string& path) {
    throw EFOpenError("Cannot create file \"" + PrintableName(path) + "\". " + std::strerror(errno));
}

}  // namespace

TRejectedRecords::TRejectedRecords(std::string folder) : folder_(std::move(folder)) {
    if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

void TRejectedRecords::EnsureFolder() const {
    std::error_code error;
    const std::filesystem::path folder(folder_);
    if (std::filesystem::is_directory(folder, error)) return;
    if (folder.has_parent_path()) std::filesystem::create_directories(folder.parent_path().parent_path(), error);
    if (::mkdir(folder_.c_str(), kFolderMode) != 0 && errno != EEXIST)
        throw EFOpenError("Cannot create folder \"" + PrintableName(folder_) + "\". " + std::strerror(errno));
}

TRejectedRecords::TSourceFile& TRejectedRecords::FileFor(const TCustomClientDataSet& source,
                                                         const std::string& path) {
    for (TSourceFile& file : pending_)
        if (file.Path == path) return file;
    TSourceFile file;
    file.Path = path;
    IDSBase& base = *source.DSBase();
    source.CheckEngine(base.GetFieldDescs(file.Fields));
    for (std::uint32_t fieldNo = 0; fieldNo <= file.Fields.size(); ++fieldNo) {
        std::vector<std::string> names;
        source.CheckEngine(base.GetOptParameterNames(fieldNo, names));
        for (const std::string& name : names) {
            std::string value;
            source.CheckEngine(base.GetOptParameter(fieldNo, name, value));
            file.Parameters.push_back({fieldNo, {name, value}});
        }
    }
    pending_.push_back(std::move(file));
    return pending_.back();
}

std::vector<TRejectedRecords::TValue> TRejectedRecords::CopyCurrentRecord(
    const TCustomClientDataSet& source, const std::vector<DSFLDDesc>& fields) {
    IDSCursor& cursor = *source.DSCursor();
    std::uint32_t recordSize = 0;
    source.CheckEngine(cursor.GetProp(curpropRECORDSIZE, recordSize));
    std::vector<std::uint8_t> record(recordSize);
    source.CheckEngine(cursor.GetCurrentRecord(record.data()));

    std::vector<TValue> values;
    for (std::uint32_t fieldNo = 1; fieldNo <= fields.size(); ++fieldNo) {
        const DSFLDDesc& desc = fields[fieldNo - 1];
        std::uint32_t blank = BLANK_NONE;
        source.CheckEngine(cursor.GetField(record.data(), fieldNo, nullptr, blank));
        if (blank != BLANK_NONE) {
            values.emplace_back();
            continue;
        }
        if (desc.iFldType == fldBLOB) {
            std::uint32_t length = 0;
            source.CheckEngine(cursor.GetBlobLen(record.data(), fieldNo, length));
            std::string bytes(length, '\0');
            source.CheckEngine(cursor.GetBlob(record.data(), fieldNo, 0, bytes.data(), length));
            bytes.resize(length);
            values.emplace_back(std::move(bytes));
            continue;
        }
        std::string form(static_cast<std::size_t>(desc.iFldLen), '\0');
        source.CheckEngine(cursor.GetField(record.data(), fieldNo, form.data(), blank));
        values.emplace_back(std::move(form));
    }
    return values;
}

void TRejectedRecords::Add(const TCustomClientDataSet& source, const std::string& path,
                           const std::string& keyText, const std::string& message) {
    TSourceFile& file = FileFor(source, path);
    file.Rows.push_back(CopyCurrentRecord(source, file.Fields));
    pendingLines_.push_back({path, source.RecordNumber(), keyText, message});
    ++count_;
}

void TRejectedRecords::Commit() {
    std::vector<TPendingLine> lines = std::move(pendingLines_);
    pendingLines_.clear();
    for (TSourceFile& file : pending_) file.Kept = file.Rows.size();
    if (listOnly_) {
        for (TPendingLine& line : lines)
            listed_.push_back({std::move(line.Path), line.RecordNumber, std::move(line.KeyText), std::move(line.Message)});
        return;
    }
    for (const TPendingLine& line : lines) WriteLogLine(line.Path, line.RecordNumber, line.KeyText, line.Message);
}

void TRejectedRecords::Discard() {
    count_ -= static_cast<int>(pendingLines_.size());
    pendingLines_.clear();
    for (TSourceFile& file : pending_) file.Rows.resize(file.Kept);
}

void TRejectedRecords::WriteLogLine(const std::string& path, int recordNumber, const std::string& keyText,
                                    const std::string& message) {
    EnsureFolder();
    const std::string line = platform::LocalTimeText() + '\t' + PrintableName(FileNameOf(path)) + '\t' + "record " +
                             std::to_string(recordNumber) + '\t' + OneLine(keyText) + '\t' + OneLine(message) + '\n';
    const int fd = ::open(LogPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, kFileMode);
    if (fd < 0) RaiseCannotCreate(LogPath());
    WriteAll(fd, LogPath(), line.data(), line.size());
    ::close(fd);
}

std::vector<std::uint8_t> TRejectedRecords::BuildPacket(const TSourceFile& file) const {
    std::unique_ptr<IDSWriter> writer;
    if (CreateDSWriter(writer) != DBERR_NONE || !writer) throw EDBClient("Cannot create the packet writer", 0);
    CheckWriter(*writer, writer->SetProp(basepropXMLMODE, xmlmodeXMLUTF8));
    for (const DSFLDDesc& desc : file.Fields) CheckWriter(*writer, writer->AddField(desc));
    for (const auto& [fieldNo, parameter] : file.Parameters)
        CheckWriter(*writer, writer->AddOptParameter(fieldNo, parameter.first, parameter.second));
    for (const std::vector<TValue>& row : file.Rows) {
        CheckWriter(*writer, writer->InitRow());
        for (std::uint32_t fieldNo = 1; fieldNo <= row.size(); ++fieldNo) {
            const TValue& value = row[fieldNo - 1];
            if (!value) continue;  // InitRow left it null
            if (file.Fields[fieldNo - 1].iFldType == fldBLOB) {
                CheckWriter(*writer, writer->PutBlob(fieldNo, value->data(), static_cast<std::uint32_t>(value->size())));
            } else {
                CheckWriter(*writer, writer->PutField(fieldNo, value->data()));
            }
        }
        CheckWriter(*writer, writer->PostRow());
    }
    std::vector<std::uint8_t> packet;
    CheckWriter(*writer, writer->GetPacket(packet));
    return packet;
}

std::string TRejectedRecords::FreePacketPath(const std::string& fileName) const {
    std::string candidate = folder_ + fileName;
    const auto dot = fileName.rfind('.');
    const std::string stem = dot == std::string::npos ? fileName : fileName.substr(0, dot);
    const std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot);
    for (int n = 2; std::filesystem::exists(candidate); ++n)
        candidate = folder_ + stem + "-" + std::to_string(n) + extension;
    return candidate;
}

void TRejectedRecords::WritePackets() {
    // Refusals still pending belong to a transaction that never committed.
    Discard();
    std::vector<TSourceFile> files = std::move(pending_);
    pending_.clear();
    if (listOnly_) return;
    for (const TSourceFile& file : files) {
        if (file.Rows.empty()) continue;
        const std::vector<std::uint8_t> packet = BuildPacket(file);
        EnsureFolder();
        std::string target;
        int fd = -1;
        do {  // a name taken meanwhile is never written over: the next free one is tried
            target = FreePacketPath(std::string(FileNameOf(file.Path)));
            fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        } while (fd < 0 && errno == EEXIST);
        if (fd < 0) RaiseCannotCreate(target);
        WriteAll(fd, target, reinterpret_cast<const char*>(packet.data()), packet.size());
        if (::close(fd) != 0) RaiseCannotCreate(target);
    }
}

}  // namespace tarnwick::import
