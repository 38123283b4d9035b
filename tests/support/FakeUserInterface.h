#pragma once
// A scripted user for handler tests: records every message, answers from queues.

#include <QString>
#include <deque>
#include <vector>

#include "controls/UserInterface.h"

// Answers questions and file dialogs from queues; remembers what it was shown.
class FakeUserInterface : public UserInterface {
public:
    struct Message {
        QString text;
        Icon icon;
    };
    struct FileRequest {
        bool save;
        QString filter;
        QString defaultSuffix;
        QString suggestedName;
        QString selectedFilter;  // the filter shown first (ChooseSaveFile), or a folder's start
        bool folder = false;     // GetExistingDirectory
    };

    void ShowMessage(const QString& text, Icon icon) override {
        m_messages.push_back({text, icon});
    }
    bool AskYesNo(const QString& text, Icon icon) override {
        m_questions.push_back({text, icon});
        if (m_answers.empty()) {
            return m_defaultAnswer;
        }
        const bool answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    QString GetSaveFileName(const QString& filter, const QString& defaultSuffix,
                            const QString& suggestedName = QString()) override {
        m_fileRequests.push_back({true, filter, defaultSuffix, suggestedName, QString(), false});
        return NextFile();
    }
    QString GetOpenFileName(const QString& filter, const QString& defaultSuffix) override {
        m_fileRequests.push_back({false, filter, defaultSuffix, QString(), QString(), false});
        return NextFile();
    }
    QString ChooseSaveFile(const QString& filters, const QString& suggestedName,
                           QString& selectedFilter) override {
        m_fileRequests.push_back({true, filters, QString(), suggestedName, selectedFilter, false});
        if (!m_filters.empty()) {
            selectedFilter = m_filters.front();
            m_filters.pop_front();
        }
        return NextFile();
    }
    QString GetExistingDirectory(const QString& start) override {
        m_fileRequests.push_back({true, QString(), QString(), QString(), start, true});
        return NextFile();
    }

    // Scripting.
    void QueueAnswer(bool yes) { m_answers.push_back(yes); }
    void QueueFile(const QString& path) { m_files.push_back(path); }  // "" = cancel; folders too
    // The filter the user picks in the next ChooseSaveFile (none queued: the one shown first).
    void QueueFilter(const QString& filter) { m_filters.push_back(filter); }
    void SetDefaultAnswer(bool yes) { m_defaultAnswer = yes; }
    void Reset() {
        m_messages.clear();
        m_questions.clear();
        m_fileRequests.clear();
        m_answers.clear();
        m_files.clear();
        m_filters.clear();
    }

    // What happened.
    const std::vector<Message>& Messages() const { return m_messages; }
    const std::vector<Message>& Questions() const { return m_questions; }
    const std::vector<FileRequest>& FileRequests() const { return m_fileRequests; }
    const Message* LastMessage() const { return m_messages.empty() ? nullptr : &m_messages.back(); }

private:
    QString NextFile() {
        if (m_files.empty()) {
            return {};
        }
        QString path = m_files.front();
        m_files.pop_front();
        return path;
    }

    std::vector<Message> m_messages;
    std::vector<Message> m_questions;
    std::vector<FileRequest> m_fileRequests;
    std::deque<bool> m_answers;
    std::deque<QString> m_files;
    std::deque<QString> m_filters;
    bool m_defaultAnswer = true;
};
