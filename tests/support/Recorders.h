// Recording implementations of the job's host interfaces, for exact
// assertions on what a job showed.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/HostInterfaces.h"

namespace velmora::test {

// Writes every call of both bars and of the message box into one journal,
// for example "analyse range 0 100", "send 24", "message Data send finish !".
class Journal {
public:
    class Bar final : public IProgressBar {
    public:
        Bar(Journal& journal, std::string name) : m_journal(journal), m_name(std::move(name)) {}
        void SetRange(int lower, int upper) override {
            m_journal.Add(m_name + " range " + std::to_string(lower) + " " + std::to_string(upper));
        }
        void SetPos(int pos) override { m_journal.Add(m_name + " " + std::to_string(pos)); }

    private:
        Journal& m_journal;
        std::string m_name;
    };
    class Messages final : public IMessageBox {
    public:
        explicit Messages(Journal& journal) : m_journal(journal) {}
        using IMessageBox::Show;
        void Show(const std::string& text, MessageCaption caption) override {
            m_journal.Add(std::string(caption == MessageCaption::Prompt ? "prompt " : "message ") +
                          text);
        }

    private:
        Journal& m_journal;
    };

    void Add(std::string entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(std::move(entry));
    }
    std::vector<std::string> Entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    // Only the entries that begin with `prefix` (e.g. "send ").
    std::vector<std::string> Only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : Entries()) {
            if (e.rfind(prefix, 0) == 0) {
                out.push_back(e);
            }
        }
        return out;
    }
    std::vector<std::string> MessagesShown() const { return Only("message "); }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

    Bar analyse{*this, "analyse"};
    Bar send{*this, "send"};
    Messages messages{*this};

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

}  // namespace velmora::test
