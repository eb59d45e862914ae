#pragma once
// What a simulated scale keeps of the label commands: label documents by
// format number, the default format of each kind of label, currency,
// rotation, scale number, shop name and address, message tags, pictures
// block by block, and every print request. Tests read and change it while
// the scale serves.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_scale.h"

namespace qv_sim {

class label_state {
public:
    struct picture {
        std::uint8_t width = 0;
        std::uint8_t height = 0;
        std::map<int, bytes> blocks;  // by block number, 100 bytes each
    };
    struct print_request {
        bytes command;  // 44, FF 42 or FF 06
        bytes data;  // the request data after the password
    };
    struct values {
        std::map<int, bytes> documents;  // label documents by "labelFormatType"
        std::map<bytes, std::uint8_t> formats;  // default formats by their getter's command bytes
        std::uint8_t currency = 0x81;
        std::uint8_t rotate = 0;
        std::uint8_t scale_number = 1;
        bytes shop_name;
        bytes shop_address;
        bytes message_tags;
        std::map<int, picture> pictures;  // by picture number
        std::vector<print_request> prints;
    };

    values get() const { return v_.get(); }
    template <class F>
    void update(F f)
    {
        v_.update(f);
    }

    // Picture block k is answered with `result` instead of being kept, for
    // the next `times` requests of that block (-1: always).
    void fail_block(int k, std::uint8_t result, int times = -1)
    {
        std::lock_guard<std::mutex> lock(mu_);
        block_failures_[k] = {result, times};
    }
    // The result for block k: 0, or the scripted failure (used up once).
    std::uint8_t block_result(int k)
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = block_failures_.find(k);
        if (it == block_failures_.end() || it->second.times == 0) return 0;
        if (it->second.times > 0) --it->second.times;
        return it->second.result;
    }

private:
    struct failure {
        std::uint8_t result = 0;
        int times = -1;
    };
    locked<values> v_;
    mutable std::mutex mu_;  // guards block_failures_
    std::map<int, failure> block_failures_;
};

// Installs the label replies on `sim` and returns the state they keep.
std::shared_ptr<label_state> add_label_replies(sim_scale& sim);

}  // namespace qv_sim
