#include "protocol/session.h"

#include "endpoint.h"

namespace ondelle {

void run_session(Endpoint& endpoint, std::shared_ptr<Conn> conn) {
    Message message;
    while (!endpoint.is_stopping() && conn->receive(message)) {
    }
    conn->close();
}

}  // namespace ondelle
