#include "link/tcp_socket.h"
