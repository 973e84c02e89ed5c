// SPDX-FileCopyrightText: 2026 The Tavrel Lite developers
// SPDX-License-Identifier: GPL-3.0-or-later

#ifndef PROMPTS_H
#define PROMPTS_H

#include <QString>
#include <functional>

class QWidget;

// Every message box, confirmation and file chooser of the client goes through
// these functions. Production shows the Qt dialogs; a handler installed with
// setHandler() answers instead (tests use it to script answers and record texts).
namespace Prompts {

enum class Kind { Critical, Information, Warning, Confirm, OpenFile, SaveFile, Question };

struct Request {
    Kind kind;
    QString title;  // window title, or the file chooser's caption
    QString text;   // message text; empty for file choosers
    QString dir;    // starting directory or file name of a file chooser
    QString filter; // name filter of a file chooser
};

// Return value of a handler: for Confirm, "ok" accepts and anything else cancels;
// for Question, "yes" answers Sì and anything else No; for file choosers, the
// chosen path ("" = cancelled); ignored for message boxes.
using Handler = std::function<QString(const Request &)>;

void setHandler(Handler handler); // an empty handler restores the Qt dialogs
bool hasHandler();

void critical(QWidget *parent, const QString &title, const QString &text);
void information(QWidget *parent, const QString &title, const QString &text);
void warning(QWidget *parent, const QString &title, const QString &text);
// The same warning without waiting for its answer: the windows behind it stay
// usable. Returns the box (it deletes itself when closed), or nullptr when a
// handler took the warning.
QWidget *nonBlockingWarning(QWidget *parent, const QString &title, const QString &text);
// OK/Cancel question with OK as the default button; true when OK was chosen.
bool confirm(QWidget *parent, const QString &title, const QString &text);
// Sì/No question with No as the default button, for a step that is better not
// taken by a hasty Enter; true when Sì was chosen.
bool question(QWidget *parent, const QString &title, const QString &text);
QString openFileName(QWidget *parent, const QString &caption, const QString &dir = QString(),
                     const QString &filter = QString());
QString saveFileName(QWidget *parent, const QString &caption, const QString &dir = QString(),
                     const QString &filter = QString());

} // namespace Prompts

#endif // PROMPTS_H
