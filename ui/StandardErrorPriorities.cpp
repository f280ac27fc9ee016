#include "ui/StandardErrorPriorities.h"

#include <unistd.h>

#include <QString>
#include <QtGlobal>

#include <cstdio>

#include "sync/report/RunJournal.h"

namespace quorvane {
namespace {

bool StandardErrorIsJournal() {
    static const bool journal = RunJournal::IsJournalStream(STDERR_FILENO);
    return journal;
}

int PriorityOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return 7;
        case QtInfoMsg:
            return 6;
        case QtWarningMsg:
            return 4;
        case QtCriticalMsg:
            return 3;
        case QtFatalMsg:
            return 2;
    }
    return 6;
}

void WithPriority(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    std::string line = StandardErrorPrefix(PriorityOf(type));
    line += qFormatLogMessage(type, context, message).toStdString();
    // One line per message: a multi-line message would lose its priority after the first.
    for (char& c : line) {
        if (c == '\n') {
            c = ' ';
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace

std::string StandardErrorPrefix(int priority) {
    return StandardErrorIsJournal() ? "<" + std::to_string(priority) + ">" : std::string();
}

void InstallQtMessagePriorities() {
    if (StandardErrorIsJournal()) {
        qInstallMessageHandler(WithPriority);
    }
}

}  // namespace quorvane
