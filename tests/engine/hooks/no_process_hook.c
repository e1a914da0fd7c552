/* A library that is no frame hook: it lacks Process. */
int Configure(void** context, int argc, char* argv[]) {
  (void)argc;
  (void)argv;
  *context = 0;
  return 0;
}

void Release(void* context) { (void)context; }
