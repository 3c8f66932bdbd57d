#include "app/RunHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "import/WorkList.h"
#include "platform/LocalTime.h"

namespace tarnwick::app {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kHeader =
    "# tarnwick run history: UTF-8, one event per line, fields separated by tabs; lines starting with # are comments\n"
    "# TIME\tstart\tHOW (window, run, list or check)\n"
    "# TIME\trow\tROW\tFILE\tTABLE\tRULE\tOUTCOME\tREAD\tINSERTED\tUPDATED\tSKIPPED\tREFUSED\tSECONDS\n"
    "# TIME\tend\tRESULT\tEXIT CODE\tFILES DELETED\tHAND-OFF\tMESSAGE\n"
    "# RESULT is complete, warning or failure; EXIT CODE is - for the window; in FILE and MESSAGE a\n"
    "# tab, a line break and a backslash are written \\t, \\n and \\\\\n";

// A field never holds the separators of the file.
std::string Field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\\') out += "\\\\";
        else out += c;
    }
    return out;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", seconds);
    return text;
}

// Writes all of `text` to `path` (created, or replaced), through a file beside it.
bool WriteWhole(const std::string& path, std::string_view text, std::string& reason) {
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            reason = std::strerror(errno);
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    fs::rename(temporary, path, error);
    if (error) {
        reason = error.message();
        fs::remove(temporary, error);
        return false;
    }
    return true;
}

}  // namespace

std::string HistoryNotWrittenText(const std::string& path, const std::string& reason) {
    return "The run history " + path + " cannot be written (" + reason +
           "); the import goes on, but this run is not recorded in it.";
}

TRunHistory::TRunHistory(const std::string& folder, std::uintmax_t limit)
    : path_(folder + (folder.empty() || folder.back() == '/' ? "" : "/") + std::string(kFileName)), limit_(limit) {}

void TRunHistory::NotWritten(const std::string& reason) {
    if (failed_) return;
    failed_ = true;
    if (notice_) notice_(HistoryNotWrittenText(path_, reason));
}

void TRunHistory::Append(const std::string& line) {
    if (failed_) return;
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return NotWritten(std::strerror(errno));
    std::string text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size == 0) text = kHeader;
    text += line;
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string reason = n < 0 ? std::strerror(errno) : "nothing written";
            // A line cut short is ended, so the next run's lines start on their own.
            if (done > 0 && ::write(fd, "\n", 1) < 0) {
            }
            ::close(fd);
            return NotWritten(reason);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) NotWritten(std::strerror(errno));
}

void TRunHistory::MoveOlderHalf() {
    std::error_code error;
    const auto size = fs::file_size(path_, error);
    if (error || size < limit_) return;
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    const std::string text = all.str();
    // Lines after the header comment; the cut falls at the first line start past the middle.
    std::size_t body = 0;
    while (body < text.size() && text[body] == '#') {
        const auto end = text.find('\n', body);
        body = end == std::string::npos ? text.size() : end + 1;
    }
    std::size_t cut = text.find('\n', body + (text.size() - body) / 2);
    cut = cut == std::string::npos ? text.size() : cut + 1;
    std::string reason;
    std::string older(kHeader);
    older.append(text, body, cut - body);
    std::string newer(kHeader);
    newer.append(text, cut, std::string::npos);
    // The older half is safe in import.log.1 before import.log loses it.
    if (!WriteWhole(path_ + ".1", older, reason) || !WriteWhole(path_, newer, reason)) NotWritten(reason);
}

void TRunHistory::RunStarted(std::string_view how) {
    failed_ = false;
    MoveOlderHalf();
    Append(platform::LocalTimeText() + "\tstart\t" + std::string(how));
}

void TRunHistory::RowFinished(const import::TRowResult& row) {
    Append(platform::LocalTimeText() + "\trow\t" + std::to_string(row.Row) + "\t" + Field(import::FileNameOf(row.Path)) + "\t" +
           Field(row.Table) + "\t" + row.Rule + "\t" + (row.Failed ? "failed" : "imported") + "\t" +
           std::to_string(row.Read) + "\t" + std::to_string(row.Inserted) + "\t" + std::to_string(row.Updated) +
           "\t" + std::to_string(row.Skipped) + "\t" + std::to_string(row.Refused) + "\t" + Seconds(row.Seconds));
}

void TRunHistory::RowPassed(int row, const std::string& path, const std::string& table, std::string_view outcome) {
    Append(platform::LocalTimeText() + "\trow\t" + std::to_string(row) + "\t" + Field(import::FileNameOf(path)) + "\t" + Field(table) +
           "\t-\t" + std::string(outcome) + "\t0\t0\t0\t0\t0\t0.00");
}

void TRunHistory::RunEnded(const TRunEnd& end) {
    Append(platform::LocalTimeText() + "\tend\t" + end.Result + "\t" + (end.ExitCode < 0 ? "-" : std::to_string(end.ExitCode)) + "\t" +
           std::to_string(end.FilesDeleted) + "\t" + (end.HandedOff ? "yes" : "no") + "\t" + Field(end.Message));
}

}  // namespace tarnwick::app
