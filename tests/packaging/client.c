/* A program of a library user, built against an installed copy through pkg-config:
 * asks the retrieval server on 127.0.0.1:PORT for documents like TEXT, as USER with
 * PASSWORD when given (a personal server's query pair), and prints "weight title" per
 * hit. Exit 0 with at least one hit. */
#include <stdio.h>
#include <stdlib.h>

#include <ixo.h>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) {
        fprintf(stderr, "usage: client PORT TEXT [USER PASSWORD]\n");
        return 2;
    }
    IXO ixo;
    if (ixoCreateIxo(&ixo, "127.0.0.1", "127.0.0.1", atoi(argv[1]), 0) != 1) return 1;
    if (argc == 5) ixoSetUserParameters(&ixo, argv[3], argv[4], NULL, NULL);
    IxoQueryResult result = {0};
    int32_t rc = ixoSuggestOnTextToStructure(&ixo, argv[2], "", "", "", "", 10, 0, 0, 0, &result);
    if (rc != 1) {
        fprintf(stderr, "client: %s\n", ixoGetError(rc));
        ixoDestroyIxo(&ixo);
        return 1;
    }
    for (int32_t i = 0; i < result.hitCount; ++i)
        printf("%d %s\n", result.records[i].weight, result.records[i].title);
    int hits = result.hitCount;
    ixoDestroyQueryResult(&result);
    ixoDestroyIxo(&ixo);
    return hits > 0 ? 0 : 1;
}
