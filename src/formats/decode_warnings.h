#pragma once
// Counting the warnings a decoder reports through Qt's messages.
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdio>

namespace tarvex {

// libjpeg reports damaged or cut-off data as warnings and still gives a
// picture; Qt passes those warnings on as messages, from the thread that
// decodes. One message handler, installed once, counts them for the decode
// running on the calling thread, so decodes on several threads at once
// keep their counts apart.
class DecodeWarnings {
public:
    DecodeWarnings()
    {
        static const bool installed = [] {
            previous().store(qInstallMessageHandler(&DecodeWarnings::handle));
            return true;
        }();
        Q_UNUSED(installed);
        current() = this;
    }
    ~DecodeWarnings() { current() = nullptr; }
    DecodeWarnings(const DecodeWarnings&) = delete;
    DecodeWarnings& operator=(const DecodeWarnings&) = delete;
    bool any() const { return count_ > 0; }

private:
    static DecodeWarnings*& current()
    {
        thread_local DecodeWarnings* decode = nullptr;
        return decode;
    }
    static std::atomic<QtMessageHandler>& previous()
    {
        static std::atomic<QtMessageHandler> handler{nullptr};
        return handler;
    }
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (DecodeWarnings* self = current(); self && type == QtWarningMsg) {
            ++self->count_;
            return;
        }
        if (const QtMessageHandler before = previous().load())
            before(type, context, text);
        else  // Qt's default: the formatted message on standard error
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
    int count_ = 0;
};

}  // namespace tarvex
