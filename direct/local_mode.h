// Local child mode: the process that started the program stops it by closing its input.
#pragma once

#include <memory>

namespace ondelle {
class Endpoint;
}  // namespace ondelle

namespace ondelle::direct {

class StopOnInputEnd {
  public:
    StopOnInputEnd();
    // Starts the detached thread that reads standard input until it ends, then stops the
    // endpoint.
    void start(Endpoint& endpoint);
    // From now on the end of input stops nothing: the endpoint is about to go.
    void forget();

  private:
    struct Target;
    std::shared_ptr<Target> target_;  // shared with the thread, which may outlive this
};

}  // namespace ondelle::direct
