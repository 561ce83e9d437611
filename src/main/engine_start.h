// Starts and stops the engine core for the server process. The engine core start-up
// (InitEngineCore / ShutdownEngineCore) replaces this pair once it exists.
#pragma once

namespace Orvan::Main {

void StartEngine();
void StopEngine();

}  // namespace Orvan::Main
