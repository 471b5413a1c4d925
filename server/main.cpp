// Not built yet: the reference server page.
int main()
{
    return 1;
}
