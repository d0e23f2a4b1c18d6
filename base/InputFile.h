// A file the job reads (the image to send or the channel list to convert),
// read as binary and shared with every other user. Only a regular file is
// taken: a pipe or a device could block the job's open for ever, or never end.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// Which file an open handle or a path stands for, and its state: a file that
// grew, was rewritten or was replaced under the same name differs in one of
// these fields.
struct FileIdentity {
    std::uint64_t device = 0;  // device, or the volume's serial number
    std::uint64_t inode = 0;   // inode, or the file index
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // last write, in the system's own units
    bool operator==(const FileIdentity&) const = default;
};

class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile() { Close(); }

    // Opens `path` for reading without ever blocking. False with Error() when
    // it cannot be opened or is not a regular file.
    bool Open(const std::string& path);
    // Reads `bytes` in place of a file: bytes that the caller made and keeps,
    // which nothing outside can change.
    void OpenBytes(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
        Close();
        m_length = bytes->size();
        m_bytes = std::move(bytes);
    }
    void Close() {
        if (m_file != nullptr) {
            std::fclose(m_file);
            m_file = nullptr;
        }
        m_bytes.reset();
        m_position = 0;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t count) {
        if (m_bytes) {
            const std::size_t n = std::min(count, m_bytes->size() - m_position);
            std::memcpy(buffer, m_bytes->data() + m_position, n);
            m_position += n;
            return n;
        }
        return std::fread(buffer, 1, count, m_file);
    }
    // Reads again from the first byte.
    void Rewind() {
        m_position = 0;
        if (m_file != nullptr) {
            std::rewind(m_file);
        }
    }
    // True when the bytes come from memory (OpenBytes), not from a file.
    bool InMemory() const { return m_bytes != nullptr; }
    // The identity of the open file as it is now; false when it cannot be
    // told. Bytes in memory never change.
    bool Identity(FileIdentity& out) const {
        if (m_bytes) {
            out = FileIdentity{0, 0, m_length, 0};
            return true;
        }
        return HandleIdentity(out);
    }
    // The identity of the file that `path` names now.
    static bool PathIdentity(const std::string& path, FileIdentity& out);
    // True when a read stopped on an error rather than at the end of the file.
    bool ReadFailed() const { return m_file != nullptr && std::ferror(m_file) != 0; }
    // The length of the open file.
    std::uint64_t Length() const { return m_length; }
    const std::string& Error() const { return m_error; }

private:
    bool HandleIdentity(FileIdentity& out) const;  // per system

    std::FILE* m_file = nullptr;
    std::shared_ptr<const std::vector<std::uint8_t>> m_bytes;
    std::size_t m_position = 0;
    std::uint64_t m_length = 0;
    std::string m_error;
};

// The text of Error() for a path that is not a regular file.
inline constexpr const char* kNotRegularFile =
    "it is not a regular file (a folder, a pipe or a device)";

}  // namespace velmora
