/* A sample link-time plugin for the sample install tree: a shared library
 * that binutils' ar, nm and ranlib load with --plugin.  It registers no
 * handler, so it claims no file and the tools treat every file as they
 * would without it.  It only proves that the path the front-ends pass is a
 * loadable plugin.
 *
 * The loader calls the exported function "onload" once with a transfer
 * vector: an array of (tag, value) entries ended by a tag of 0.  The plugin
 * answers 0 for success.  Only these few facts of that interface are used,
 * so they are declared here rather than taken from a header.
 *
 * With ZOV_SAMPLE_PLUGIN_TRACE set in the environment the plugin says on
 * standard error that it was loaded. */

#include <stdio.h>
#include <stdlib.h>

enum sample_plugin_status { SAMPLE_PLUGIN_OK = 0 };
enum { TRANSFER_VECTOR_END = 0 };

struct transfer_vector_entry {
  int tag;
  union {
    int value;
    const char *text;
    void *pointer;
  } u;
};

__attribute__((visibility("default"))) int onload(struct transfer_vector_entry *tv);

int onload(struct transfer_vector_entry *tv) {
  int entries = 0;
  if (tv != NULL)
    while (tv[entries].tag != TRANSFER_VECTOR_END) ++entries;
  if (getenv("ZOV_SAMPLE_PLUGIN_TRACE") != NULL)
    fprintf(stderr, "libqel_plugin.so: onload called with %d transfer vector entries; claiming no file\n",
            entries);
  return SAMPLE_PLUGIN_OK;
}
