// The broker library is loaded when the first broker session starts, not with the program: it
// brings OpenSSL's libcrypto and libssl, about 1.8 MB of resident memory (their relocated tables)
// that a client which does not publish never uses. These definitions stand in for the library's
// own, with its header's declarations, and forward to it; where it cannot be loaded, a session
// cannot be made and says so.
#include "publish/mosquitto_loader.h"

#include <mosquitto.h>

#include <dlfcn.h>

namespace {

void* Library() {
    static void* const handle = ::dlopen("libmosquitto.so.1", RTLD_NOW | RTLD_LOCAL);
    return handle;
}

template <typename F> F* Real(F*, const char* name) {
    void* handle = Library();
    return handle == nullptr ? nullptr : reinterpret_cast<F*>(::dlsym(handle, name));
}

const char* const kMissing = "the MQTT library libmosquitto.so.1 could not be loaded";

} // namespace

bool MosquittoLibraryLoaded() {
    return Library() != nullptr;
}

// The real function, looked up once; `failed` where there is none.
#define FORWARD(name, failed, ...)                                                                           \
    static auto* const real = Real(&name, #name);                                                            \
    if (real == nullptr) {                                                                                   \
        return failed;                                                                                       \
    }                                                                                                        \
    return real(__VA_ARGS__)

int mosquitto_lib_init() {
    static auto* const real = Real(&mosquitto_lib_init, "mosquitto_lib_init");
    return real == nullptr ? MOSQ_ERR_NOT_SUPPORTED : real();
}

mosquitto* mosquitto_new(const char* id, bool cleanSession, void* obj) {
    FORWARD(mosquitto_new, nullptr, id, cleanSession, obj);
}

void mosquitto_destroy(mosquitto* mosq) {
    FORWARD(mosquitto_destroy, , mosq);
}

int mosquitto_int_option(mosquitto* mosq, mosq_opt_t option, int value) {
    FORWARD(mosquitto_int_option, MOSQ_ERR_NOT_SUPPORTED, mosq, option, value);
}

int mosquitto_username_pw_set(mosquitto* mosq, const char* username, const char* password) {
    FORWARD(mosquitto_username_pw_set, MOSQ_ERR_NOT_SUPPORTED, mosq, username, password);
}

int mosquitto_will_set(mosquitto* mosq, const char* topic, int length, const void* payload, int qos,
                       bool retain) {
    FORWARD(mosquitto_will_set, MOSQ_ERR_NOT_SUPPORTED, mosq, topic, length, payload, qos, retain);
}

int mosquitto_tls_set(mosquitto* mosq, const char* caFile, const char* caPath, const char* certFile,
                      const char* keyFile, int (*password)(char*, int, int, void*)) {
    FORWARD(mosquitto_tls_set, MOSQ_ERR_NOT_SUPPORTED, mosq, caFile, caPath, certFile, keyFile, password);
}

int mosquitto_connect_async(mosquitto* mosq, const char* host, int port, int keepalive) {
    FORWARD(mosquitto_connect_async, MOSQ_ERR_NOT_SUPPORTED, mosq, host, port, keepalive);
}

int mosquitto_disconnect(mosquitto* mosq) {
    FORWARD(mosquitto_disconnect, MOSQ_ERR_NOT_SUPPORTED, mosq);
}

int mosquitto_socket(mosquitto* mosq) {
    FORWARD(mosquitto_socket, -1, mosq);
}

bool mosquitto_want_write(mosquitto* mosq) {
    FORWARD(mosquitto_want_write, false, mosq);
}

int mosquitto_loop_read(mosquitto* mosq, int maxPackets) {
    FORWARD(mosquitto_loop_read, MOSQ_ERR_NOT_SUPPORTED, mosq, maxPackets);
}

int mosquitto_loop_write(mosquitto* mosq, int maxPackets) {
    FORWARD(mosquitto_loop_write, MOSQ_ERR_NOT_SUPPORTED, mosq, maxPackets);
}

int mosquitto_loop_misc(mosquitto* mosq) {
    FORWARD(mosquitto_loop_misc, MOSQ_ERR_NOT_SUPPORTED, mosq);
}

int mosquitto_publish(mosquitto* mosq, int* mid, const char* topic, int length, const void* payload, int qos,
                      bool retain) {
    FORWARD(mosquitto_publish, MOSQ_ERR_NOT_SUPPORTED, mosq, mid, topic, length, payload, qos, retain);
}

int mosquitto_subscribe(mosquitto* mosq, int* mid, const char* pattern, int qos) {
    FORWARD(mosquitto_subscribe, MOSQ_ERR_NOT_SUPPORTED, mosq, mid, pattern, qos);
}

int mosquitto_unsubscribe(mosquitto* mosq, int* mid, const char* pattern) {
    FORWARD(mosquitto_unsubscribe, MOSQ_ERR_NOT_SUPPORTED, mosq, mid, pattern);
}

void mosquitto_connect_callback_set(mosquitto* mosq, void (*onConnect)(mosquitto*, void*, int)) {
    FORWARD(mosquitto_connect_callback_set, , mosq, onConnect);
}

void mosquitto_disconnect_callback_set(mosquitto* mosq, void (*onDisconnect)(mosquitto*, void*, int)) {
    FORWARD(mosquitto_disconnect_callback_set, , mosq, onDisconnect);
}

void mosquitto_message_callback_set(mosquitto* mosq,
                                    void (*onMessage)(mosquitto*, void*, const mosquitto_message*)) {
    FORWARD(mosquitto_message_callback_set, , mosq, onMessage);
}

const char* mosquitto_strerror(int error) {
    FORWARD(mosquitto_strerror, kMissing, error);
}

const char* mosquitto_connack_string(int code) {
    FORWARD(mosquitto_connack_string, kMissing, code);
}
