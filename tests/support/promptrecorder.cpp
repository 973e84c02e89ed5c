// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/promptrecorder.h"

#include <QStringList>

PromptRecorder::PromptRecorder()
{
    Prompts::setHandler([this](const Prompts::Request &request) {
        m_calls.append(request);
        if (m_callback)
            m_callback(request);
        return m_answers.isEmpty() ? m_defaultAnswer : m_answers.dequeue();
    });
}

PromptRecorder::~PromptRecorder()
{
    Prompts::setHandler({});
}

Prompts::Request PromptRecorder::last() const
{
    return m_calls.isEmpty() ? Prompts::Request{Prompts::Kind::Information, {}, {}, {}, {}}
                             : m_calls.last();
}

bool PromptRecorder::contains(Prompts::Kind kind, const QString &title, const QString &text) const
{
    for (const Prompts::Request &r : m_calls) {
        if (r.kind == kind && r.title == title && r.text == text)
            return true;
    }
    return false;
}

QStringList PromptRecorder::describe() const
{
    static const char *names[] = {"critical", "information", "warning", "confirm", "open", "save", "question"};
    QStringList out;
    for (const Prompts::Request &r : m_calls)
        out << QStringLiteral("%1|%2|%3").arg(QLatin1String(names[int(r.kind)]), r.title, r.text);
    return out;
}
