// Preloaded into the tests of a sanitizer build: libraries that a program opens at run time (the
// GL driver above all) stay loaded until the process ends. The leak check runs at exit; had the
// driver been unloaded by then, its allocations would show up as leaks of an unknown module,
// neither attributable nor suppressible by name.
extern "C" int dlclose(void *handle)
{
    (void)handle;
    return 0;
}
