#pragma once

#include <unistd.h>
#include <utility>

// Owns one file descriptor and closes it once. Not thread-safe; move-only.
class TFileDescriptor
{
public:
    TFileDescriptor() = default;
    explicit TFileDescriptor(int fd) : m_fd(fd) {}
    TFileDescriptor(TFileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    TFileDescriptor& operator=(TFileDescriptor&& other) noexcept
    {
        if (this != &other)
            Reset(std::exchange(other.m_fd, -1));
        return *this;
    }
    TFileDescriptor(const TFileDescriptor&) = delete;
    TFileDescriptor& operator=(const TFileDescriptor&) = delete;
    ~TFileDescriptor() { Reset(); }

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    void Reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};
