#include "import/TransferSteps.h"

#include <filesystem>

#include "base/Text.h"

namespace tarnwick::import {

std::string TRuleCounts::Summary() const {
    return "read " + std::to_string(Read) + ", inserted " + std::to_string(Inserted) + ", updated " +
           std::to_string(Updated) + ", skipped " + std::to_string(Skipped) + ", refused " +
           std::to_string(Refused);
}

bool TFieldNameLess::operator()(std::string_view a, std::string_view b) const {
    return CompareTextAscii(a, b) < 0;
}

bool IsEmptyFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const auto size = std::filesystem::file_size(path, error);
    return !error && size == 0;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

void TTransfer::LoadStep(TClientDataSet& dataSet, const std::string& path) {
    ReadingFile(path);
    dataSet.LoadPacketFile(path);
    place_.Total = dataSet.RecordTotal();
    view_.ProgressBar1().SetMax(dataSet.RecordTotal());
    view_.ProgressBar1().SetPosition(0);
}

void TTransfer::WholeTableOpen(const std::string& table) {
    TCommandDataSet& target = data_.ClientDataSet2;
    target.Close();
    target.SetCommandText("DELETE FROM " + table);
    target.ExecuteCommand();
    target.Close();
    target.SetCommandText("SELECT * FROM " + table);
    target.Open();
}

bool TTransfer::KeyedOpen(const std::string& select) {
    TCommandDataSet& target = data_.ClientDataSet2;
    target.Close();
    target.SetCommandText(select);
    target.Open();
    if (target.RecordTotal() != 0) {
        target.BeginEdit();
        return true;
    }
    target.BeginInsert();
    return false;
}

void TTransfer::RecordCopy(const TDataSet& source, const TFieldNames& excluded) {
    TCommandDataSet& target = data_.ClientDataSet2;
    for (int i = 0; i < target.FieldTotal(); ++i) {
        TField& field = target.FieldAt(i);
        if (excluded.contains(field.FieldName())) continue;
        // Files mostly list the table's columns in its order: the field at the same place is
        // tried first (names within a dataset are unique, letter case aside).
        const TField* same = i < source.FieldTotal() ? &source.FieldAt(i) : nullptr;
        const TField& from = same != nullptr && SameTextAscii(same->FieldName(), field.FieldName())
                                 ? *same
                                 : source.FieldNamed(field.FieldName());
        field.SetVariantValue(from.VariantValue());
    }
}

bool TTransfer::ApplyStep(const TClientDataSet& source, const std::string& path, const std::string& keyText) {
    TCommandDataSet& target = data_.ClientDataSet2;
    target.PostRecord();
    data_.TakeRefusalMessage();  // nothing of an earlier apply may stick to this one
    if (target.ApplyChanges(0) == 0) return true;
    std::string message = data_.TakeRefusalMessage();
    if (message.empty()) message = "the database refused the record";
    data_.Rejected().Add(source, path, keyText, message);
    return false;
}

void TTransfer::RecordLoop(TDataSet& source, const std::function<void()>& body) {
    place_.Total = source.RecordTotal();
    while (!source.AtEnd()) {
        place_.Record = source.RecordNumber();
        view_.ProgressBar1().SetPosition(source.RecordNumber());
        ++counts_.Read;
        body();
        source.MoveNext();
    }
}

}  // namespace tarnwick::import
