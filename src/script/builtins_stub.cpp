// Placeholder so the library links before the run-time library lands; replaced by runtime_*.cpp.
