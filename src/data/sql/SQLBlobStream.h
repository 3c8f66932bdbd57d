#pragma once
// TSQLBlobStream: a read stream over one blob value of the current row of an open SQL dataset.
// It copies the whole blob into its own memory when it is created, so it stays valid after the
// dataset moves on; it owns that copy. Create it only while the dataset is open.

#include <cstddef>
#include <string>

#include "data/clientdataset/Field.h"

namespace tarnwick::sql {

class TSQLBlobStream {
public:
    // Fails with "Cannot perform this operation on a closed dataset" unless the field's dataset
    // is open.
    explicit TSQLBlobStream(const TField& field);

    std::size_t Size() const { return data_.size(); }
    std::size_t Position() const { return position_; }
    void SetPosition(std::size_t position) { position_ = position < data_.size() ? position : data_.size(); }
    // Copies at most `count` bytes from the position on; answers the bytes copied.
    std::size_t Read(void* buffer, std::size_t count);
    const std::string& Data() const { return data_; }

private:
    std::string data_;
    std::size_t position_ = 0;
};

}  // namespace tarnwick::sql
