#include "script/engine.h"

#include "script/interpreter.h"

namespace fern::script {

Engine::Engine() : impl_(std::make_unique<Interpreter>()) {}
Engine::~Engine() = default;

void Engine::AddCode(std::string_view code, std::string_view sourceName) {
  impl_->AddCode(code, sourceName);
}
void Engine::AddObject(std::string_view name, std::shared_ptr<Dispatch> object) {
  impl_->AddObject(name, std::move(object));
}
Variant Engine::Run(std::string_view procName, std::span<Variant> args) {
  return impl_->Run(procName, args);
}
bool Engine::HasProcedure(std::string_view name) const { return impl_->HasProcedure(name); }
Variant Engine::Eval(std::string_view expression) { return impl_->EvalText(expression); }
void Engine::ExecuteStatement(std::string_view code) { impl_->ExecuteStatement(code); }
const ScriptError& Engine::Error() const { return impl_->Error(); }
void Engine::ClearError() { impl_->ClearError(); }
void Engine::SetTimeout(int milliseconds) { impl_->timeoutMs = milliseconds; }
int Engine::Timeout() const { return impl_->timeoutMs; }
void Engine::SetStopQuery(std::function<bool()> query) { impl_->stopQuery = std::move(query); }
void Engine::SetAllowUI(bool allow) { impl_->allowUI = allow; }
bool Engine::AllowUI() const { return impl_->allowUI; }
void Engine::SetObjectFactory(ObjectFactory factory) { impl_->factory = std::move(factory); }
void Engine::SetGetObjectHandler(GetObjectHandler handler) {
  impl_->getObject = std::move(handler);
}
void Engine::Reset() { impl_->Reset(); }

}  // namespace fern::script
