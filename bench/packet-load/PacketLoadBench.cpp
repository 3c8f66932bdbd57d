// Loading benchmark: a generated PRODUCT-like packet (200 000 rows, 15 fields of mixed types) is
// loaded with LoadPacketFile and walked, reading every field's VariantValue; the same file is also
// parsed bare with pugixml, so the ratio shows what the engine and the fields add.
//
//   packet_load_bench [rows] [packet path] [MB of the non-packet file]
//
// A file of the given size (default: the packet's) that is XML but no data packet is then loaded
// too: the time and peak memory until it is refused.
//
// Peak memory is the rise of VmHWM over VmRSS before each phase (the peak is reset between
// phases through /proc/self/clear_refs).

#include "data/clientdataset/ClientDataSet.h"

#include <pugixml.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tarnwick;

namespace {

std::string Base64(const std::string& bytes) {
    static const char* const table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += table[v >> 18];
        out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

void WritePacket(const std::string& path, int rows) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
           "<FIELD attrname=\"PROD_ID\" fieldtype=\"string\" WIDTH=\"20\" required=\"true\"/>"
           "<FIELD attrname=\"PROD_NAME\" fieldtype=\"string\" WIDTH=\"60\"/>"
           "<FIELD attrname=\"BARCODE\" fieldtype=\"string\" WIDTH=\"20\"/>"
           "<FIELD attrname=\"UNIT\" fieldtype=\"string\" WIDTH=\"10\"/>"
           "<FIELD attrname=\"CATEGORY_ID\" fieldtype=\"i4\"/>"
           "<FIELD attrname=\"NOW_QTY\" fieldtype=\"i4\"/>"
           "<FIELD attrname=\"BEFORE_QTY\" fieldtype=\"i4\"/>"
           "<FIELD attrname=\"SAFE_QTY\" fieldtype=\"i2\"/>"
           "<FIELD attrname=\"PRICE\" fieldtype=\"fixed\" WIDTH=\"12\" DECIMALS=\"2\"/>"
           "<FIELD attrname=\"COST\" fieldtype=\"fixed\" WIDTH=\"14\" DECIMALS=\"4\"/>"
           "<FIELD attrname=\"MEMBER_PRICE\" fieldtype=\"fixedFMT\" WIDTH=\"18\" DECIMALS=\"4\"/>"
           "<FIELD attrname=\"CREATE_TIME\" fieldtype=\"SQLdateTime\"/>"
           "<FIELD attrname=\"UPD_TIME\" fieldtype=\"SQLdateTime\"/>"
           "<FIELD attrname=\"ACTIVE\" fieldtype=\"boolean\"/>"
           "<FIELD attrname=\"NOTE\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
           "</FIELDS><PARAMS LCID=\"1028\"/></METADATA><ROWDATA>\n";
    static const char* const names[] = {"綠茶", "烏龍茶", "礦泉水", "牛奶糖", "洋芋片", "咖啡豆"};
    static const char* const units[] = {"瓶", "包", "盒", "罐"};
    char row[1024];
    for (int i = 0; i < rows; ++i) {
        const std::string note = i % 5 == 0 ? std::string() : Base64("備註 " + std::to_string(i) + " 請冷藏");
        std::snprintf(row, sizeof row,
                      "<ROW PROD_ID=\"P%08d\" PROD_NAME=\"%s %d號 600ml\" BARCODE=\"471%010d\" UNIT=\"%s\" "
                      "CATEGORY_ID=\"%d\" NOW_QTY=\"%d\" BEFORE_QTY=\"%d\" SAFE_QTY=\"%d\" PRICE=\"%d.%02d\" "
                      "COST=\"%d.%04d\" MEMBER_PRICE=\"%d.%04d\" CREATE_TIME=\"2026%02d%02dT08:%02d:%02d.000\" "
                      "UPD_TIME=\"20261210T%02d:%02d:%02d.%03d\" ACTIVE=\"%s\"%s%s%s/>\n",
                      i, names[i % 6], i, i, units[i % 4], i % 97, i % 1000, (i * 7) % 1000, i % 300,
                      10 + i % 990, i % 100, 5 + i % 500, i % 10000, 9 + i % 900, (i * 3) % 10000,
                      1 + i % 12, 1 + i % 28, i % 60, (i / 60) % 60, i % 24, (i / 24) % 60, i % 60,
                      i % 1000, i % 3 ? "TRUE" : "FALSE", note.empty() ? "" : " NOTE=\"",
                      note.c_str(), note.empty() ? "" : "\"");
        out << row;
    }
    out << "</ROWDATA></DATAPACKET>\n";
}

long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
    return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
    const std::string path = argc > 2 ? argv[2]
                                      : (std::filesystem::temp_directory_path() /
                                         ("packet-load-" + std::to_string(::getpid()) + ".XML")).string();
    WritePacket(path, rows);
    const double fileMb = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    std::printf("packet: %d rows, 15 fields, %.1f MB (%s)\n", rows, fileMb, path.c_str());

    // Load and walk.
    TClientDataSet dataset;
    dataset.SetName("ClientDataSet1");
    ResetPeak();
    const long rssBefore = StatusKb("VmRSS");
    auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    dataset.LoadPacketFile(path);
    const double loadSeconds = Seconds(start);
    // Processor time as well: on a shared machine the wall time says more about the neighbours.
    const double loadCpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    long cells = 0;
    const int fieldTotal = dataset.FieldTotal();
    for (; !dataset.AtEnd(); dataset.MoveNext())
        for (int f = 0; f < fieldTotal; ++f)
            if (!dataset.FieldAt(f).VariantValue().IsNull()) ++cells;
    const double totalSeconds = Seconds(start);
    const long loadPeakKb = StatusKb("VmHWM") - rssBefore;
    const int total = dataset.RecordTotal();
    dataset.Close();
    dataset.DiscardRetainedPacket();

    // Bare parse of the same file.
    ResetPeak();
    const long rssBeforeParse = StatusKb("VmRSS");
    start = std::chrono::steady_clock::now();
    double parseSeconds = 0;
    {
        pugi::xml_document document;
        const pugi::xml_parse_result parsed = document.load_file(path.c_str());
        parseSeconds = Seconds(start);
        if (!parsed) std::printf("pugixml: %s\n", parsed.description());
    }
    const long parsePeakKb = StatusKb("VmHWM") - rssBeforeParse;

    std::printf("load+walk: %.3f s (load %.3f s, walk %.3f s), %d records, %ld non-null values\n",
                totalSeconds, loadSeconds, totalSeconds - loadSeconds, total, cells);
    std::printf("load+walk: %.1f MB/s, %.0f rows/s; load used %.3f s of processor time\n", fileMb / totalSeconds,
                rows / totalSeconds, loadCpuSeconds);
    std::printf("load+walk peak memory: %.1f MB (%.2f x file size; goal < 3)\n", loadPeakKb / 1024.0,
                loadPeakKb / 1024.0 / fileMb);
    std::printf("bare pugixml parse: %.3f s, %.1f MB/s, peak %.1f MB\n", parseSeconds, fileMb / parseSeconds,
                parsePeakKb / 1024.0);
    std::printf("speed ratio load+walk / bare parse: %.2f (goal >= 0.33)\n", parseSeconds / totalSeconds);
    if (argc <= 2) std::filesystem::remove(path);

    // A large XML file that is no data packet: refused, at what cost.
    const double otherMb = argc > 3 ? std::atof(argv[3]) : fileMb;
    const std::string other = path + ".other.XML";
    {
        std::ofstream out(other, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<report>\n";
        const std::string line = "  <line shop=\"0001\" text=\"this export is not a data packet\"/>\n";
        for (double written = 0; written < otherMb * 1024 * 1024; written += static_cast<double>(line.size()))
            out << line;
        out << "</report>\n";
    }
    const double otherFileMb = static_cast<double>(std::filesystem::file_size(other)) / (1024.0 * 1024.0);
    ResetPeak();
    const long rssBeforeOther = StatusKb("VmRSS");
    start = std::chrono::steady_clock::now();
    const std::clock_t otherCpuStart = std::clock();
    std::string refusal = "(not refused)";
    try {
        dataset.LoadPacketFile(other);
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    const double otherSeconds = Seconds(start);
    const double otherCpuSeconds = static_cast<double>(std::clock() - otherCpuStart) / CLOCKS_PER_SEC;
    const long otherPeakKb = StatusKb("VmHWM") - rssBeforeOther;
    std::filesystem::remove(other);
    std::printf("non-packet %.1f MB refused in %.3f s (%.3f s of processor time), peak memory %.1f MB (%.2f x file "
                "size): %.100s\n",
                otherFileMb, otherSeconds, otherCpuSeconds, otherPeakKb / 1024.0, otherPeakKb / 1024.0 / otherFileMb,
                refusal.c_str());
    return 0;
}
