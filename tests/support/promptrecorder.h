// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PROMPTRECORDER_H
#define PROMPTRECORDER_H

#include "app/prompts.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <functional>

// Replaces the client's message boxes and file choosers for the lifetime of the
// object: every prompt is recorded, and answered from a queue of scripted
// answers (or the default answer when the queue is empty).
class PromptRecorder
{
public:
    PromptRecorder();
    ~PromptRecorder();
    PromptRecorder(const PromptRecorder &) = delete;
    PromptRecorder &operator=(const PromptRecorder &) = delete;

    // Answer of the next prompt: "ok"/"cancel" for confirmations, "yes"/"no"
    // for Sì/No questions, a path for file choosers.
    void answerNext(const QString &answer) { m_answers.enqueue(answer); }
    void setDefaultAnswer(const QString &answer) { m_defaultAnswer = answer; }
    // Called for every prompt after it is recorded (for example to act while
    // a "modal" prompt would be open).
    void setCallback(std::function<void(const Prompts::Request &)> cb) { m_callback = std::move(cb); }

    const QList<Prompts::Request> &calls() const { return m_calls; }
    int count() const { return int(m_calls.size()); }
    Prompts::Request last() const;
    bool contains(Prompts::Kind kind, const QString &title, const QString &text) const;
    void clear() { m_calls.clear(); }
    // "kind|title|text" of every recorded prompt, for readable failure messages.
    QStringList describe() const;

private:
    QList<Prompts::Request> m_calls;
    QQueue<QString> m_answers;
    QString m_defaultAnswer = QStringLiteral("ok");
    std::function<void(const Prompts::Request &)> m_callback;
};

#endif // PROMPTRECORDER_H
