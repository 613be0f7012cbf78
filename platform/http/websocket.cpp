// One connection of the loopback server, WebSocket phase: whole messages read one at a time,
// text messages queued and written in order, and the closing handshake.
#include "platform/http/server_state.h"

namespace talrec::platform::http_detail {

void Connection::ReadMessage() {
    buffer_.clear();
    ws_->async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        self->OnMessage(ec);
    });
}

void Connection::OnMessage(beast::error_code ec) {
    if (Gone()) return;
    if (ec) {
        std::uint16_t code = kCloseAbnormal;
        if (ec == websocket::error::closed) {
            // The closing handshake is complete: the code this side asked for, else the peer's.
            code = closeWanted_ ? closeWanted_->code : ws_->reason().code;
            if (code == websocket::close_code::none) code = 1005;  // closed without a code
        } else if (ec == websocket::error::message_too_big) {
            code = kCloseTooBig;
        } else if (ec == websocket::error::bad_frame_payload) {
            code = kCloseInvalidPayload;
        }
        Finish(code);
        return;
    }
    std::string message = beast::buffers_to_string(buffer_.data());
    const bool text = ws_->got_text();
    buffer_.clear();
    if (phase_ == Phase::Open) {
        auto& handler = text ? state_->handlers.onText : state_->handlers.onBinary;
        if (handler) handler(id_, std::move(message));
    }
    if (Gone()) return;
    // While closing, reading goes on until the peer's close frame arrives.
    ReadMessage();
}

bool Connection::Send(std::string text) {
    if (phase_ != Phase::Open) return false;
    queuedBytes_ += text.size();
    if (queuedBytes_ > state_->limits.maxQueuedBytes) {
        // A peer that does not read: dropped rather than let its backlog grow without end.
        Finish(kCloseAbnormal);
        return false;
    }
    queue_.push_back(std::move(text));
    if (!writing_) WriteNext();
    return true;
}

void Connection::WriteNext() {
    if (Gone()) return;
    if (queue_.empty()) {
        if (closeWanted_ && !closeStarted_) {
            closeStarted_ = true;
            ws_->async_close(*closeWanted_, [self = shared_from_this()](beast::error_code ec) {
                // Done when the peer's close frame reaches the read in progress.
                if (ec && !self->Gone()) self->Finish(self->closeWanted_->code);
            });
        }
        return;
    }
    writing_ = true;
    ws_->text(true);
    ws_->async_write(net::buffer(queue_.front()),
                     [self = shared_from_this()](beast::error_code ec, std::size_t) {
                         self->writing_ = false;
                         if (self->Gone()) return;
                         if (ec) return self->Finish(kCloseAbnormal);
                         self->queuedBytes_ -= self->queue_.front().size();
                         self->queue_.pop_front();
                         self->WriteNext();
                     });
}

void Connection::Close(std::uint16_t code, std::string reason) {
    if (phase_ != Phase::Open) return;
    phase_ = Phase::Closing;
    // Close reasons are at most 123 bytes.
    if (reason.size() > 123) reason.resize(123);
    closeWanted_ = websocket::close_reason(static_cast<websocket::close_code>(code), reason);
    if (!writing_) WriteNext();
}

}  // namespace talrec::platform::http_detail
