/* The floor for "parse and send the next": a blocking libmodbus client reading the two blocks of
 * a poll cycle back to back until the server closes.   libmodbus_loop PORT */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: libmodbus_loop PORT\n");
        return 2;
    }
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", atoi(argv[1]));
    if (ctx == NULL || modbus_connect(ctx) != 0) {
        fprintf(stderr, "libmodbus_loop: cannot connect: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_set_slave(ctx, 1);
    uint16_t a[96];
    uint16_t b[24];
    while (modbus_read_registers(ctx, 60000, 96, a) == 96 && modbus_read_registers(ctx, 60166, 24, b) == 24) {
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return 0;
}
