// The device object: construction, destruction, the shared state's lock,
// and the start and stop of the live-weight thread.
//
// Threads and locks
// -----------------
// * Commands run on the host's calling thread. One command at a time owns the
//   device: `busy` is acquired atomically before any parameter map is touched
//   (see the command contract in dispatch.cpp), and while a command owns the device its
//   input map, output map, `responses` and `results` belong to it alone.
// * A second host thread may issue the stop command (127) while a command
//   runs: it only sets `stop_requested`; `busy` stays with the running command,
//   which notices the flag at its next test and ends with -9.
// * The live-weight thread (`weight_thread`, started by command -33) reads
//   `ip_address_list`, `permanent_clients`, `io_contexts`, `timeout_seconds`,
//   `permanent_connection` and `error_texts` while commands change them.
//   Those six members are guarded by `state_mutex`: every writer holds it while
//   it changes them, and the weight thread holds it only to copy what it needs
//   (shared_ptr copies of a client, its io_context and the text object), then
//   works on its copies without the lock. A thread holding copies of a
//   kept-open client and its io_context drops the client copy first.
//   The host thread that owns the device may read those members without the
//   lock (no other thread writes them).
// * `error_texts` is only ever read through a shared_ptr copy
//   (`current_error_texts()`), so replacing the language never destroys a
//   text object under a reader.
// * The weight thread is joined, never detached: `stop_weight_thread()` clears
//   `weight_running` and waits for it; the destructor does this before it
//   closes the connections. Starts and stops take `weight_control`, so two
//   host threads never start two streams nor join the same thread. The one
//   exception is a sink that destroys its own handle: the device then goes
//   on the weight thread itself, which is detached and, holding the flag's
//   shared block, finds the flag cleared and leaves without touching it.

#include "core/device.h"

#include <chrono>
#include <clocale>
#include <exception>
#include <filesystem>
#include <locale>
#include <thread>
#include <utility>

#include "codecs/device_utils.h"
#include "core/driver_version.h"
#include "core/vocab/errors_text.h"
#include "core/vocab/vocab_commands.h"
#include "core/vocab/vocab_params.h"
#include "link/link_exchange.h"
#include "link/one_shot_group.h"
#include "link/permanent_tcp_client.h"
#include "logging/logger.h"

// ---------------------------------------------------------------- lifecycle

namespace {

// The device whose weight thread is the calling thread, if any: such a
// thread can neither join nor restart itself.
thread_local const device* weight_thread_of = nullptr;

}  // namespace

device::device()
    : driver_version(get_const_driver_version()),
      driver_version_without_date(get_const_driver_version_without_date()),
      driver_protocol_version(get_const_driver_protocol_version()),
      db_schema_version(get_const_db_schema_version()),
      error_texts(std::make_shared<errors_text_eng>()),
      languages{L"eng", L"rus", L"zho"},
      driver_root_folder(device_utils::parse_byte_array_from_string(std::filesystem::current_path().string())),
      barcode_structures(vocab::barcode_structures()),
      command_frames(vocab::command_frames()),
      broadcast_validation_(vocab::broadcast_validation()),
      param_names(vocab::param_names())
{
    // The locale change is process-wide and repeated by every new device.
    std::setlocale(LC_ALL, "C");
    std::locale::global(std::locale("C"));
    command_stop = std::make_unique<exchange_stop>(stop_requested);
    Logger::i("Initialization of the driver kernel. Version: " + device_utils::str(driver_version));
}

device::~device()
{
    try {
        Logger::i("~device");
    } catch (...) {
    }
    // The weight thread reads the scale list, the connections and the texts:
    // it must have left before any of them goes.
    stop_weight_thread();
    if (weight_thread.joinable()) weight_thread.detach();  // only when destroyed from the weight thread itself
    try {
        const command_log log("disconnect");  // the disconnect's own start line
    } catch (...) {
    }
    drop_permanent_connections();
}

void device::retire()
{
    // The registry has let the device go, so no new call reaches it; a
    // command already inside is stopped and waited for, and `busy` is then
    // kept, so that one arriving late gets -2 rather than a device being
    // torn down under it.
    for (;;) {
        {
            std::lock_guard<std::mutex> gate(command_gate);
            if (!busy.load()) {
                busy.store(true);
                break;
            }
        }
        raise_stop();
        // A sink destroying its own handle does not wait: the running
        // command may be the stop of this stream, waiting for this very
        // thread; its caller's hold keeps the device until it returns.
        if (weight_thread_of == this) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop_weight_thread();
}

void device::drop_permanent_connections() noexcept
{
    try {
        // Moved out under the lock and destroyed after it, clients first, so
        // that each client goes while its io_context still exists.
        std::map<std::string, std::shared_ptr<permanent_tcp_client>> clients;
        std::map<std::string, std::shared_ptr<boost::asio::io_context>> contexts;
        {
            std::lock_guard<std::mutex> lock(state_mutex);
            clients.swap(permanent_clients);
            contexts.swap(io_contexts);
        }
        clients.clear();
        contexts.clear();
    } catch (...) {
    }
}

std::shared_ptr<errors_text> device::current_error_texts() const
{
    std::lock_guard<std::mutex> lock(state_mutex);
    return error_texts;
}

void device::replace_error_texts(std::shared_ptr<errors_text> texts)
{
    std::shared_ptr<errors_text> old;
    {
        std::lock_guard<std::mutex> lock(state_mutex);
        old = std::move(error_texts);
        error_texts = std::move(texts);
    }
    // `old` is released here, outside the lock; a reader holding its own
    // copy keeps the previous object alive until it is done.
}

// ------------------------------------------------------------ live weight

bool device::start_weight_thread(std::function<void()> loop, std::shared_ptr<own_exchange_stop> poll_stop)
{
    if (weight_thread_of == this) return false;
    std::lock_guard<std::mutex> control(weight_control);
    if (weight_running.load()) return false;
    if (weight_thread.joinable()) weight_thread.join();  // a stream that ended by itself
    weight_running.store(true);
    weight_poll_stop = std::move(poll_stop);
    // A failed creation throws with the flag still set.
    // After the loop only the shared flag is touched: the device may be gone.
    weight_thread = std::thread([this, running = weight_flag, loop = std::move(loop)]() {
        weight_thread_of = this;
        try {
            loop();
        } catch (const std::exception& e) {
            running->store(false);
            Logger::e(std::string("weight thread error: ") + e.what());
        } catch (...) {
            running->store(false);
            Logger::e("weight thread error");
        }
    });
    return true;
}

void device::stop_weight_thread() noexcept
{
    weight_running.store(false);
    if (weight_thread_of == this) return;
    try {
        std::lock_guard<std::mutex> control(weight_control);
        // A poll waiting for a silent scale would hold the join for its
        // whole time-out, which the host may have set to hours.
        if (weight_poll_stop) weight_poll_stop->raise();
        if (weight_thread.joinable()) weight_thread.join();
    } catch (...) {
    }
}
