/* print_snapshot: prints a file as it was at one instant, read through a snapshot.
 * A C host of Quorlin's C interface on Linux:
 *   cc print_snapshot.c $(pkg-config --cflags --libs quorlin) -o print_snapshot
 * (A Windows host calls CoInitializeEx first, and takes wmain's arguments to the _w
 * calls, since its char arguments are not UTF-8.) */
#include <quorlin/quorlin.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    quorlin_agent* agent;
    char* snapshot;
    size_t needed = 0;
    int result;
    FILE* file;

    if (argc != 2) {
        fprintf(stderr, "usage: print_snapshot FILE\n");
        return 2;
    }
    agent = quorlin_agent_new();
    if (agent == NULL)
        return 1;
    /* No buffer yet: take the snapshot, then fetch its path in a buffer of the size it needs. */
    result = quorlin_start(agent, argv[1], NULL, 0, &needed);
    if (result != QUORLIN_OK) {
        fprintf(stderr, "print_snapshot: %s (%s)\n", quorlin_last_report(agent),
                quorlin_result_text(result));
        quorlin_agent_free(agent);
        return result;
    }
    snapshot = malloc(needed);
    if (snapshot == NULL || quorlin_snapshot_path(agent, 0, snapshot, needed, NULL) != QUORLIN_OK) {
        quorlin_agent_free(agent); /* completes the backup: the snapshot goes */
        return 1;
    }
    file = fopen(snapshot, "rb");
    if (file != NULL) {
        char buffer[65536];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
            fwrite(buffer, 1, n, stdout);
        fclose(file);
    } else {
        perror(snapshot);
    }
    free(snapshot);
    result = quorlin_complete(agent); /* deletes the snapshot */
    quorlin_agent_free(agent);
    return file != NULL ? result : 1;
}
