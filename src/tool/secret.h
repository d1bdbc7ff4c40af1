#pragma once
// A password in memory: every buffer that held it is wiped before it is given back,
// and the copy cannot be duplicated by accident.

#include <cstddef>
#include <cstring>
#include <memory>
#include <string.h>

class secret {
public:
    secret() = default;
    secret(secret&& other) noexcept
        : data_(std::move(other.data_)), size_(other.size_), capacity_(other.capacity_)
    {
        other.size_ = other.capacity_ = 0;
    }
    secret& operator=(secret&& other) noexcept
    {
        if (this != &other) {
            wipe();
            data_ = std::move(other.data_);
            size_ = other.size_;
            capacity_ = other.capacity_;
            other.size_ = other.capacity_ = 0;
        }
        return *this;
    }
    secret(const secret&) = delete;
    secret& operator=(const secret&) = delete;
    ~secret() { wipe(); }

    // May throw std::bad_alloc; the old buffer is wiped when it is replaced.
    void push_back(char c)
    {
        if (size_ + 1 >= capacity_)
            grow();
        data_[size_++] = c;
        data_[size_] = '\0';
    }

    const char* c_str() const noexcept { return data_ ? data_.get() : ""; }
    std::size_t size() const noexcept { return size_; }

    bool operator==(const secret& other) const noexcept
    {
        return size_ == other.size_ && std::memcmp(c_str(), other.c_str(), size_) == 0;
    }

private:
    void grow()
    {
        const std::size_t capacity = capacity_ == 0 ? 64 : capacity_ * 2;
        std::unique_ptr<char[]> larger(new char[capacity]);
        if (size_ > 0)
            std::memcpy(larger.get(), data_.get(), size_ + 1);
        wipe();
        data_ = std::move(larger);
        capacity_ = capacity;
    }

    void wipe() noexcept
    {
        if (data_)
            explicit_bzero(data_.get(), capacity_);
        data_.reset();
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};
