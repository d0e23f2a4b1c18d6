// Helpers shared by the conversion tests: a SATCODX record builder, a
// recording progress bar and message box, temporary folders and files.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/HostInterfaces.h"
#include "base/JobSettings.h"

namespace velmora::test {

using Bytes = std::vector<std::uint8_t>;

// The fields of one channel-list record; everything else is blank.
struct Rec {
    std::string sat = "Astra 1 (19.2E)";  // up to 18 characters
    char type = 'T';
    int freq = 11303;
    char pol = '1';
    std::string name = "Das Erste HD";  // up to 20 characters
    int pos = 192;
    int sr = 22000;
    int vpid = 5101;
    int apid = 5102;
    int pcr = 5103;
    int sid = 10301;
    int nid = 1;
    int tsid = 1019;
    std::string ca = "____";
};

inline void PutText(std::string& r, std::size_t at, std::size_t width, const std::string& text) {
    for (std::size_t i = 0; i < width; ++i) {
        r[at + i] = i < text.size() ? text[i] : ' ';
    }
}

inline void PutDigits(std::string& r, std::size_t at, std::size_t width, int value) {
    std::string digits = std::to_string(value);
    digits.insert(0, width - digits.size(), '0');
    PutText(r, at, width, digits);
}

// One 128-byte record: "SATCODX103", the fields, blanks, and a line feed.
inline std::string Record(const Rec& f) {
    std::string r(128, ' ');
    PutText(r, 0, 10, "SATCODX103");
    PutText(r, 10, 18, f.sat);
    r[28] = f.type;
    PutText(r, 29, 4, "MPG2");
    PutDigits(r, 33, 6, f.freq);
    PutText(r, 39, 3, "000");
    r[42] = f.pol;
    PutText(r, 43, 8, f.name.substr(0, std::min<std::size_t>(8, f.name.size())));
    PutDigits(r, 51, 4, f.pos);
    PutDigits(r, 69, 5, f.sr);
    PutDigits(r, 75, 4, f.vpid);
    PutDigits(r, 79, 4, f.apid);
    PutDigits(r, 83, 4, f.pcr);
    PutDigits(r, 87, 5, f.sid);
    PutDigits(r, 92, 5, f.nid);
    PutDigits(r, 97, 5, f.tsid);
    PutText(r, 111, 4, f.ca);
    PutText(r, 115, 12, f.name.size() > 8 ? f.name.substr(8) : std::string());
    r[127] = '\n';
    return r;
}

inline Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

inline Bytes List(const std::vector<Rec>& recs) {
    std::string all;
    for (const Rec& r : recs) {
        all += Record(r);
    }
    return ToBytes(all);
}

inline Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::filesystem::path& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velmora-sdx-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "cannot create a temporary folder";
        }
        m_path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const char* name) const { return m_path / name; }
    bool Has(const char* name) const { return std::filesystem::exists(m_path / name); }

private:
    std::filesystem::path m_path;
};

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
            m_had = true;
        }
        setenv(name, value.c_str(), 1);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    ~ScopedEnv() {
        if (m_had) {
            setenv(m_name.c_str(), m_old.c_str(), 1);
        } else {
            unsetenv(m_name.c_str());
        }
    }

private:
    std::string m_name;
    std::string m_old;
    bool m_had = false;
};

// Records every position; can wait (with a deadline) for a position to appear.
class RecordingBar final : public IProgressBar {
public:
    void SetRange(int /*lower*/, int /*upper*/) override {}
    void SetPos(int pos) override {
        {
            std::lock_guard lock(m_mutex);
            m_positions.push_back(pos);
        }
        m_cv.notify_all();
    }
    std::vector<int> Positions() const {
        std::lock_guard lock(m_mutex);
        return m_positions;
    }
    bool WaitForAny(std::chrono::milliseconds deadline) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, deadline, [this] { return !m_positions.empty(); });
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<int> m_positions;
};

class RecordingMessages final : public IMessageBox {
public:
    using IMessageBox::Show;
    void Show(const std::string& text, MessageCaption caption) override {
        shown.emplace_back(text, caption);
    }
    std::vector<std::pair<std::string, MessageCaption>> shown;
};

// The dialog's defaults as the worker sees them, with a chosen list and
// working folder.
inline JobSettings DefaultSettings(const std::string& list, const std::string& workDir,
                                   UpgradeType type = UpgradeType::Database) {
    JobSettings s;
    LineParams line;
    ConvertDialogValues(DialogValues{}, s, line);
    s.nUpgradeType = type;
    s.strFilePath = list;
    s.strWorkDir = workDir;
    return s;
}

// PATH with the stand-in packer's folder in front.
inline std::string PathWithFakePacker() {
    const char* path = std::getenv("PATH");
    return std::string(VELMORA_FAKE_PACKER_DIR) + ":" + (path != nullptr ? path : "");
}

// PATH without the stand-in packer: only system folders.
inline std::string PathWithoutPacker() {
    return "/usr/bin:/bin";
}

}  // namespace velmora::test
