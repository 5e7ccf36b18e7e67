#pragma once
// The whole run, from banner to restart: one straight line of stages, the first failure ends it.
#include <string_view>

#include "deployment_platform.hpp"

namespace autodeploy {

// Where the receiver writes the image, and what every later stage reads.
inline constexpr std::string_view kImagePath = "C:\\system.wim";

Status run_deployment(DeploymentPlatform& platform, std::string_view receiver_image);

// The same with the real system and the embedded receiver.
Status run_deployment();

}  // namespace autodeploy
