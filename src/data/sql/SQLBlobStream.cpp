#include "data/sql/SQLBlobStream.h"

#include <cstring>

#include "data/clientdataset/DataSet.h"

namespace tarnwick::sql {

TSQLBlobStream::TSQLBlobStream(const TField& field) {
    field.DataSet().CheckActive();
    field.DataSet().GetBlobData(field, data_);
}

std::size_t TSQLBlobStream::Read(void* buffer, std::size_t count) {
    const std::size_t available = data_.size() - position_;
    const std::size_t n = count < available ? count : available;
    if (n > 0) std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
}

}  // namespace tarnwick::sql
