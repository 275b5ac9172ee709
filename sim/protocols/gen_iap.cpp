// GEN_IAP target: the resident programming routine. With an ISP request configured
// the target starts in its application, which answers only that request (with the
// configured response) and then hands over to the programming routine; the routine
// keeps answering the request, so every later connect of the host works too.
#include <algorithm>

#include "protocol.hpp"
#include "protocols/iap_commands.hpp"

namespace {

class GenIapProtocol : public Protocol {
public:
    explicit GenIapProtocol(const SimOptions& options)
        : request_(options.ispRequest), response_(options.ispResponse), inApplication_(!options.ispRequest.empty()) {}

    void Receive(uint8_t byte, Target& target) override {
        // Inside a frame every byte is frame data, whatever it looks like.
        if (request_.empty() || (!inApplication_ && !engine_.Idle())) {
            Forward(byte, target);
            return;
        }
        held_.push_back(byte);
        if (std::equal(held_.begin(), held_.end(), request_.begin())) {
            if (held_.size() == request_.size()) {
                held_.clear();
                target.Note(inApplication_ ? "gen_iap: ISP request, entering the programming routine"
                                           : "gen_iap: ISP request");
                inApplication_ = false;
                if (!response_.empty()) target.Send(response_);
            }
            return;
        }
        // Not the request after all: the first held byte is an ordinary byte; the rest
        // may still start a request.
        std::vector<uint8_t> rest(held_.begin() + 1, held_.end());
        uint8_t first = held_.front();
        held_.clear();
        Forward(first, target);
        for (uint8_t b : rest) Receive(b, target);
    }

private:
    void Forward(uint8_t byte, Target& target) {
        if (inApplication_) return;  // the application ignores everything else
        engine_.Receive(byte, target);
    }

    IapCommandEngine engine_{"gen_iap", false};
    std::vector<uint8_t> request_;
    std::vector<uint8_t> response_;
    std::vector<uint8_t> held_;  // bytes that so far match the beginning of the request
    bool inApplication_;
};

}  // namespace

std::unique_ptr<Protocol> CreateGenIapProtocol(const SimOptions& options) {
    return std::make_unique<GenIapProtocol>(options);
}
