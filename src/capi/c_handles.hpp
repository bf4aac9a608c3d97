#pragma once

#include <memory>

#include "quorin/quorin.h"
#include "quorin/quorin_client.hpp"

struct qrn_client {
  QRNQuorinClient facade;
};

struct qrn_swift_client {
  std::shared_ptr<quorin::QuorinClient> client;
};

struct qrn_device {
  std::shared_ptr<quorin::platform::Platform> platform;
};
